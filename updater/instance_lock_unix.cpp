#include "instance_lock.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace qorv {

namespace {

/// The directory of the single-instance lock: $XDG_RUNTIME_DIR, or without it a directory of
/// this user's own below the temporary directory. Empty, with `error` set, when that directory
/// cannot be made or is not private to this user.
QString lock_directory(QString* error)
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return runtime;
    const QString dir =
        QDir(QDir::tempPath()).filePath(QStringLiteral("qorv_update-%1").arg(::getuid()));
    const QByteArray native = QFile::encodeName(dir);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
        *error = QStringLiteral("%1: %2").arg(dir, QString::fromLocal8Bit(std::strerror(errno)));
        return {};
    }
    // The temporary directory is shared: anybody could have made this name first.
    struct stat st = {};
    if (::lstat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & 077) != 0) {
        *error = QStringLiteral("%1: not a private directory of this user").arg(dir);
        return {};
    }
    return dir;
}

/// Why the lock file `path` in `dir` could not be created, as far as the system tells it.
QString lock_error(const QString& dir, const QString& path, QLockFile::LockError error)
{
    if (QFileInfo(dir).exists() && !QFileInfo(dir).isDir())
        return QStringLiteral("%1: not a directory").arg(dir);
    if (::access(QFile::encodeName(dir).constData(), W_OK | X_OK) != 0)
        return QStringLiteral("%1: %2").arg(dir, QString::fromLocal8Bit(std::strerror(errno)));
    return QStringLiteral("%1: %2").arg(path, error == QLockFile::PermissionError
                                                  ? QStringLiteral("permission denied")
                                                  : QStringLiteral("cannot be created or locked"));
}

} // namespace

// A lock file in the user's runtime directory; one left by an instance that was killed is
// recognised by its dead process and taken over.
struct instance_lock::lock_file {
    QString dir;
    QString path;
    QLockFile file;

    explicit lock_file(const QString& d)
        : dir(d), path(QDir(d).filePath(QStringLiteral("qorv_update.lock"))), file(path)
    {
        file.setStaleLockTime(0);
    }
};

instance_lock::instance_lock() = default;

instance_lock::~instance_lock() = default;

instance_lock::state instance_lock::try_lock()
{
    error_.clear();
    const QString dir = lock_directory(&error_);
    if (!error_.isEmpty())
        return state::failed;
    file_ = std::make_unique<lock_file>(dir);
    if (file_->file.tryLock(0))
        return state::locked;
    if (file_->file.error() == QLockFile::LockFailedError)
        return state::already_running;
    error_ = lock_error(dir, file_->path, file_->file.error());
    return state::failed;
}

} // namespace qorv
