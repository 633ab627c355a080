#pragma once

#include "install_journal.h"

#include <QByteArrayView>
#include <QFile>
#include <QString>

#include <memory>
#include <vector>

namespace qorv {

/// Something an install could not put back or clean up. Reported to the user, never dropped.
struct install_problem {
    QString path;   ///< the file concerned
    QString backup; ///< when not empty: the replaced file that could not be moved back to `path`
    QString reason; ///< the system's error text
    /// `path` is an install journal that could not be read, so nothing was done.
    bool unreadable_journal = false;
};

/// What recover_install() found and did.
enum class recovery {
    none,        ///< no interrupted install
    completed,   ///< the interrupted install was completed
    rolled_back, ///< the interrupted install was undone
    incomplete,  ///< something could not be put back or removed: see the problems
};

/// The files of one version, installed all or nothing, in a way that survives a crash at any
/// instant. Each file is written to a temporary file beside its target; commit() moves them all
/// into place, rollback() (or destruction without a commit) removes them and leaves every
/// installed file as it was.
///
/// A journal in the installation directory records every temporary and backup file before it is
/// made, and the phase the install is in (see install_journal.h). After a crash,
/// recover_install() reads it and either completes the install (when the moves had begun: every
/// file was then complete on disk) or rolls it back, and removes every temporary and backup
/// file. Temporary and backup files have short names of their own (".qorv-n-XXXXXXXX",
/// ".qorv-o-XXXXXXXX"), so that a target whose name has the longest length the file system
/// allows can still be installed.
class staged_install {
public:
    /// `base` is the installation directory: every target lies below it, and the journal is kept
    /// there while the install runs.
    explicit staged_install(QString base);
    ~staged_install();
    staged_install(const staged_install&) = delete;
    staged_install& operator=(const staged_install&) = delete;

    /// Starts the temporary file of `target`. Fails when the target cannot be replaced (a
    /// directory, a read-only file, outside the base) or its directory takes no new file. With
    /// `follow_link`, a target that is a symbolic link keeps its link: the file it points to
    /// (wherever it lies) is replaced in its own directory.
    bool begin_file(const QString& target, bool follow_link = false);
    /// Appends to the current file; false when not everything was written.
    bool write(QByteArrayView bytes);
    /// Flushes the current file to disk and closes it.
    bool end_file();
    /// begin_file(), write() and end_file() in one, for a small file such as qorv.ini.
    bool add_file(const QString& target, QByteArrayView bytes, bool follow_link = false);

    /// Puts every finished file in place, replacing the installed ones. All or nothing: when one
    /// cannot be moved, those already moved are restored (move_failure() says which and why).
    /// The replaced files are kept until finish() or undo().
    bool commit();
    /// After a commit: forgets the replaced files for good. False when one could not be removed
    /// (see problems()).
    bool finish();
    /// After a commit: restores the replaced files and removes the new ones. False when a file
    /// could not be put back or removed (see problems()).
    bool undo();
    /// Before a commit: removes every temporary file. False when one could not be removed.
    bool rollback();
    /// Whatever the phase: rollback() before a commit, undo() after it.
    bool abandon();

    qsizetype file_count() const { return static_cast<qsizetype>(files_.size()); }
    /// What the last finish(), undo() or rollback() could not do. While this is not empty the
    /// journal stays, so that the next start tries again.
    const std::vector<install_problem>& problems() const { return problems_; }
    /// The file whose move made the last commit() fail, and the system's reason; empty when no
    /// move failed.
    const install_problem& move_failure() const { return move_failure_; }

private:
    friend recovery recover_install(const QString&, std::vector<install_problem>*);
    using phase = install_phase;

    /// Moves every file in place; `resuming` after an interruption, when a file that is no
    /// longer beside its target has been moved already. Undoes everything on failure.
    bool move_all(bool resuming);
    void remove(const QString& path);
    bool close_journal();
    /// Removes temporary files that no journal accounts for: those of earlier updaters, and new
    /// files whose record a power cut lost.
    void remove_stray_temporaries();

    QString base_;
    std::vector<staged_file> files_;
    std::unique_ptr<QFile> current_;
    qint64 written_ = 0;      ///< bytes written to current_
    qint64 written_back_ = 0; ///< bytes of current_ whose writing to disk has been started
    phase phase_ = phase::staging;
    journal_file journal_;
    bool journal_made_ = false; ///< a journal of this install is on disk
    std::vector<install_problem> problems_;
    install_problem move_failure_;
};

/// Completes or rolls back an install in `base` that was interrupted (by a crash, a kill or a
/// power cut), as its journal describes, and removes its temporary and backup files, and any
/// temporary file below `base` that no journal accounts for (also those of earlier updaters,
/// ".NAME.qorv-new-XXXXXXXX"). Call it before anything else touches the installation, under the
/// single-instance lock. Whatever could not be done is added to `problems`; the journal then
/// stays for the next start.
recovery recover_install(const QString& base, std::vector<install_problem>* problems);

} // namespace qorv
