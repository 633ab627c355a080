#pragma once

// The journal of an install: the file in the installation directory that records every
// temporary and backup file of an install, and the phase the install is in, so that an
// interrupted install can be completed or undone at the next start.
//
// Its cost grows with the number of files, never with their square: records are appended, and
// the journal is written whole only once, when the moves begin. Two forms, told apart by their
// first line:
//
//     qorv-journal 2 staging                               while files are downloaded
//     file .qorv-n-0000000a .qorv-o-0000000b lib/a.dll     one per file, before it is made
//     link .qorv-n-0000000c .qorv-o-0000000d qorv.ini      a file replaced through its link
//
//     qorv-journal 2 commit                                from the moves on
//     file ... / link ...                                  every file of the install
//     moving 2 10                                          the number of files, and for each
//                                                          whether it replaces an installed one
//     undoing 2  |  done 2                                 appended, with the number again
//
// A staging journal only says which temporary files may exist: cut short, it still names
// nothing but temporary files. The commit journal is written beside the journal, flushed and
// renamed over it, and is only trusted with its moving record counting every file before it, so
// that a commit journal cut short is unreadable instead of taken for a smaller install. Text
// after the last line break is an append that never completed (nothing was done after it) and
// is ignored.

#include "install_names.h"

#include <QFile>
#include <QString>

#include <memory>
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
    /// When not empty: the symbolic link inside the installation through which `target` was
    /// named. The link stays; the file it points to is replaced in its own directory.
    QString link;
};

/// What a journal records.
struct install_journal {
    install_phase phase = install_phase::staging;
    std::vector<staged_file> files;
};

/// The journal of the install in `base` (an absolute path below which every file lies, or its
/// link does), written record by record.
class journal_file {
public:
    explicit journal_file(QString base);
    ~journal_file();
    journal_file(const journal_file&) = delete;
    journal_file& operator=(const journal_file&) = delete;

    QString path() const;
    /// Whether the journal is open for records.
    bool is_open() const { return file_ != nullptr; }

    /// Creates the staging journal. False when it could not be made, or a journal is already
    /// there (an earlier install's, which must be dealt with first).
    bool create();
    /// Opens the existing journal to add records to it.
    bool reopen();
    /// Appends the record of a file about to be staged to the staging journal. Not flushed to
    /// disk: a temporary file that a power cut leaves unrecorded is removed at the next start.
    bool record_file(const staged_file& f);
    /// Replaces the journal by the commit journal of `files` (with their had_old flags), on disk
    /// when this returns true; from then on the install is completed, not undone, after an
    /// interruption.
    bool commit(const std::vector<staged_file>& files);
    /// Appends the record of `phase` (undoing or done) for `files` to the commit journal,
    /// flushed to disk when `durable`.
    bool record_phase(install_phase phase, const std::vector<staged_file>& files, bool durable);
    /// Closes the journal; the file stays.
    void close();

private:
    bool append(const QByteArray& record);
    QByteArray file_record(const staged_file& f) const;

    QString base_;
    std::unique_ptr<QFile> file_;
};

/// What read_journal() found.
enum class journal_status {
    absent,     ///< no journal: no install was interrupted
    unreadable, ///< a journal that is not one journal_file writes, or names a file elsewhere
    read,       ///< a journal, now in the result
};

/// Reads the journal of the install in `base` (an absolute path) into `journal`. Only files
/// inside `base` (as target_path() decides), or reached through a link inside it, with scratch
/// names of their kind are trusted. When unreadable, `why` (if given) says what is wrong.
journal_status read_journal(const QString& base, install_journal* journal, QString* why = nullptr);

} // namespace qorv
