#pragma once

// The journal of an install: the file in the installation directory that records every
// temporary and backup file of an install, and the phase the install is in, so that an
// interrupted install can be completed or undone at the next start.

#include <QString>

#include <vector>

namespace qorv {

/// Where an install stands. The journal records every phase but `closed`.
enum class install_phase { staging, moving, undoing, done, closed };

/// One file of an install.
struct staged_file {
    QString target;       ///< the installed file (absolute path)
    QString temporary;    ///< its new contents until they are moved in place, beside the target
    QString backup;       ///< where the replaced file is kept from the commit until the end
    bool had_old = false; ///< whether the commit found a file to replace
};

/// What a journal records.
struct install_journal {
    install_phase phase = install_phase::staging;
    std::vector<staged_file> files;
};

/// The journal's name inside the installation directory.
inline const QString journal_name = QStringLiteral(".qorv-journal");

/// The two kinds of scratch file an install keeps beside a target.
enum class scratch_kind : char { new_file = 'n', old_file = 'o' };

/// The name of a scratch file, short whatever the target's length: ".qorv-n-0000abcd" for the
/// new file numbered 0xabcd.
QString scratch_file_name(scratch_kind kind, quint32 number);

/// True when `name` has the form scratch_file_name() gives to files of `kind`.
bool is_scratch_name(const QString& name, scratch_kind kind);

/// Writes the journal of the install in `base`, an absolute path below which every file lies:
/// whole beside the journal, flushed to disk and renamed over it, so that the journal on disk is
/// always one complete version or the next. False when it could not be written (a `closed`
/// install has no journal); the previous journal then stands and nothing else is left behind.
bool write_journal(const QString& base, const install_journal& journal);

/// What read_journal() found.
enum class journal_status {
    absent,     ///< no journal: no install was interrupted
    unreadable, ///< a journal that is not one write_journal() writes, or names a file elsewhere
    read,       ///< a journal, now in the result
};

/// Reads the journal of the install in `base` (an absolute path) into `journal`. Only files
/// inside `base` (as target_path() decides) with scratch names of their kind are trusted.
journal_status read_journal(const QString& base, install_journal* journal);

} // namespace qorv
