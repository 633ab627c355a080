#pragma once

#include <QByteArrayView>
#include <QString>

#include <sys/types.h>

namespace rt {

/// Why the file `path` cannot be replaced by a file_replacement, or an empty text when it can:
/// a directory, something other than a regular file (through symbolic links), a file without
/// write permission (refused also to a privileged process, as a plain write by its owner would
/// be), a link chain that does not end.
QString replace_refusal(const QString& path);

/// Replaces a file whole and durably. The new contents go to a temporary file created
/// exclusively (never through a planted link) in the directory of the file that is replaced;
/// commit() flushes it to disk, gives it the replaced file's permissions (and owner, where the
/// process may), renames it over that file and flushes the directory. Readers and a power cut
/// see the old file or the new one, never a part of either.
///
/// A symbolic link as `path` stays: the file it points to is replaced, in that file's directory.
/// A new file gets the permissions 0666 less the process's umask; until commit() its owner may
/// read and write it whatever the umask, so that a writer can open it again by name.
///
/// \code
/// rt::file_replacement out(path);
/// if (!out.ok()) return fail(out.error());
/// write_everything(out.handle());            // or open out.open_name() and write there
/// if (!out.commit()) return fail(out.error());
/// \endcode
/// Destroyed without commit() it removes the temporary file.
class file_replacement {
public:
    explicit file_replacement(const QString& path);
    ~file_replacement();
    file_replacement(const file_replacement&) = delete;
    file_replacement& operator=(const file_replacement&) = delete;

    /// True while the temporary file is open and nothing has failed.
    bool ok() const { return fd_ >= 0; }
    /// What failed, for the user: the path and the system's reason.
    const QString& error() const { return error_; }
    /// The file that is replaced (the final target of a symbolic link).
    const QString& target() const { return target_; }
    /// The directory of target(), where the temporary file is.
    QString directory() const;
    /// The temporary file's descriptor (write-only), or -1.
    int handle() const { return fd_; }
    /// The temporary file's path.
    const QString& temporary() const { return temp_; }
    /// A name that opens the temporary file itself even if its directory entry were swapped:
    /// /proc/self/fd/N where the system has it, else the temporary path.
    QString open_name() const;

    /// Appends `bytes` to the temporary file. False with error() set (the replacement is then
    /// abandoned).
    bool write(QByteArrayView bytes);

    /// Makes the temporary file the target, durably. False with error() set; the old file (if
    /// any) is then untouched and the temporary removed. A target that became one that cannot be
    /// replaced (replace_refusal()) while the contents were written is refused then.
    bool commit();

private:
    void fail(const QString& what, int error_number);
    void keep_owner_access();

    QString target_;
    QString temp_;
    QString error_;
    int fd_ = -1;
    bool existed_ = false;
    mode_t mode_ = 0;      // to give the file at commit(), when existed_ or widened_
    bool widened_ = false; // a new file's mode widened for its owner while it is written
    uid_t owner_ = 0;
    gid_t group_ = 0;
};

} // namespace rt
