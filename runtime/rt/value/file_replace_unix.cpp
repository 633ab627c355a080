// Whole-file replacement on POSIX systems: an exclusive temporary beside the target, fsync, rename,
// fsync of the directory.

#include <rt/value/file_replace.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rt {

namespace {

QString reason(int error_number)
{
    return QString::fromLocal8Bit(std::strerror(error_number));
}

struct resolved {
    QString path; ///< the final target of any link chain
    bool exists = false;
    struct stat status {};
    QString refusal;
};

// Follows symbolic links from `path` to the file they end at (which may not exist yet).
resolved resolve(const QString& path)
{
    resolved r;
    r.path = QFileInfo(path).absoluteFilePath();
    for (int hops = 0;; ++hops) {
        const QByteArray native = QFile::encodeName(r.path);
        if (::lstat(native.constData(), &r.status) != 0) {
            if (errno != ENOENT)
                r.refusal = QStringLiteral("%1: %2").arg(r.path, reason(errno));
            return r;
        }
        if (!S_ISLNK(r.status.st_mode))
            break;
        if (hops == 40) {
            r.refusal = QStringLiteral("%1: %2").arg(path, reason(ELOOP));
            return r;
        }
        QByteArray link(4096, Qt::Uninitialized);
        const ssize_t n = ::readlink(native.constData(), link.data(), std::size_t(link.size()));
        if (n < 0 || n == link.size()) {
            r.refusal = QStringLiteral("%1: %2").arg(r.path, reason(n < 0 ? errno : ENAMETOOLONG));
            return r;
        }
        link.truncate(n);
        r.path = QDir::cleanPath(
            QFileInfo(r.path).absoluteDir().absoluteFilePath(QFile::decodeName(link)));
    }
    r.exists = true;
    if (S_ISDIR(r.status.st_mode))
        r.refusal = QStringLiteral("%1 is a directory").arg(r.path);
    else if (!S_ISREG(r.status.st_mode))
        r.refusal = QStringLiteral("%1 is not a regular file").arg(r.path);
    else if ((r.status.st_mode & 0222) == 0 ||
             ::faccessat(AT_FDCWD, QFile::encodeName(r.path).constData(), W_OK, AT_EACCESS) != 0)
        r.refusal = QStringLiteral("%1 is write-protected").arg(r.path);
    return r;
}

} // namespace

QString replace_refusal(const QString& path)
{
    return resolve(path).refusal;
}

file_replacement::file_replacement(const QString& path)
{
    const resolved r = resolve(path);
    target_ = r.path;
    if (!r.refusal.isEmpty()) {
        error_ = r.refusal;
        return;
    }
    existed_ = r.exists;
    mode_ = r.status.st_mode & 07777;
    owner_ = r.status.st_uid;
    group_ = r.status.st_gid;

    // ".NAME.XXXXXX": hidden, and never a name another program would open by mistake.
    const QFileInfo info(target_);
    const QString stem = info.absolutePath() + QStringLiteral("/.") + info.fileName() + u'.';
    static constexpr char letters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        QString name = stem;
        for (int i = 0; i < 6; ++i)
            name += QLatin1Char(letters[QRandomGenerator::global()->bounded(62)]);
        // 0666: the kernel takes the umask off, as for any new file.
        fd_ = ::open(QFile::encodeName(name).constData(),
                     O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            temp_ = name;
            keep_owner_access();
            return;
        }
        if (errno != EEXIST)
            break;
    }
    fail(QStringLiteral("cannot create a file in %1").arg(info.absolutePath()), errno);
}

file_replacement::~file_replacement()
{
    if (fd_ >= 0)
        ::close(fd_);
    if (!temp_.isEmpty())
        ::unlink(QFile::encodeName(temp_).constData());
}

QString file_replacement::directory() const
{
    return QFileInfo(target_).absolutePath();
}

QString file_replacement::open_name() const
{
    const QString proc = QStringLiteral("/proc/self/fd/%1").arg(fd_);
    return fd_ >= 0 && QFileInfo::exists(proc) ? proc : temp_;
}

// A writer may open the temporary file again by its name (libxlsxwriter does). Under a umask that
// takes the owner's own access away, the owner keeps it until commit() sets the mode the umask
// gave.
void file_replacement::keep_owner_access()
{
    struct stat created {};
    if (existed_ || ::fstat(fd_, &created) != 0 || (created.st_mode & 0600) == 0600)
        return;
    mode_ = created.st_mode & 07777;
    widened_ = ::fchmod(fd_, mode_ | 0600) == 0;
}

void file_replacement::fail(const QString& what, int error_number)
{
    error_ = error_number != 0 ? QStringLiteral("%1: %2").arg(what, reason(error_number)) : what;
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (!temp_.isEmpty())
        ::unlink(QFile::encodeName(temp_).constData());
    temp_.clear();
}

bool file_replacement::write(QByteArrayView bytes)
{
    while (fd_ >= 0 && !bytes.isEmpty()) {
        const ssize_t n = ::write(fd_, bytes.data(), static_cast<std::size_t>(bytes.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            fail(QStringLiteral("cannot write %1").arg(target_), n < 0 ? errno : ENOSPC);
            return false;
        }
        bytes = bytes.sliced(n);
    }
    return fd_ >= 0;
}

bool file_replacement::commit()
{
    if (fd_ < 0) {
        if (error_.isEmpty())
            error_ = QStringLiteral("%1 was not written").arg(target_);
        return false;
    }
    // What became of the target while the new contents were written counts: a save that landed
    // there meanwhile may have left a file that must not be replaced.
    if (const QString refusal = resolve(target_).refusal; !refusal.isEmpty()) {
        fail(refusal, 0);
        return false;
    }
    // The owner first: changing it clears set-id bits that the mode then restores. Only a
    // privileged process may give a file away; others keep their own ownership.
    if (existed_ && (owner_ != ::geteuid() || group_ != ::getegid()) &&
        ::fchown(fd_, owner_, group_) != 0)
        (void)::fchown(fd_, ::geteuid(), group_);
    if (existed_ || widened_) {
        if (::fchmod(fd_, mode_) != 0) {
            fail(QStringLiteral("cannot set the permissions of %1").arg(temp_), errno);
            return false;
        }
    }
    // The contents reach the disk before the name points at them.
    if (::fsync(fd_) != 0) {
        fail(QStringLiteral("cannot write %1").arg(target_), errno);
        return false;
    }
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0) {
        fail(QStringLiteral("cannot write %1").arg(target_), errno);
        return false;
    }
    if (::rename(QFile::encodeName(temp_).constData(), QFile::encodeName(target_).constData()) !=
        0) {
        fail(QStringLiteral("cannot replace %1").arg(target_), errno);
        return false;
    }
    temp_.clear();
    // And the new name reaches the disk: without this a power cut may bring back the old entry
    // or none at all.
    const int dir =
        ::open(QFile::encodeName(directory()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

} // namespace rt
