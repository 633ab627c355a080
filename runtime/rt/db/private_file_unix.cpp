#include <rt/db/private_file.h>

#include <QFile>
#include <QTemporaryDir>

#include <unistd.h>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace rt::detail {

private_file::private_file(const QByteArray& contents)
{
#ifdef __linux__
    fd_ = ::memfd_create("qorv", MFD_CLOEXEC);
    if (fd_ >= 0) {
        qsizetype done = 0;
        while (done < contents.size()) {
            const ssize_t n = ::write(fd_, contents.constData() + done, contents.size() - done);
            if (n <= 0)
                break;
            done += n;
        }
        if (done == contents.size() && QFile::exists(QStringLiteral("/proc/self/fd"))) {
            path_ = QStringLiteral("/proc/self/fd/%1").arg(fd_);
            return;
        }
        ::close(fd_);
        fd_ = -1;
    }
#endif
    dir_ = std::make_unique<QTemporaryDir>();
    QFile file(dir_->filePath(QStringLiteral("odbc.ini")));
    if (dir_->isValid() && file.open(QIODevice::WriteOnly) &&
        file.write(contents) == contents.size())
        path_ = file.fileName();
}

private_file::~private_file()
{
    if (fd_ >= 0)
        ::close(fd_);
}

} // namespace rt::detail
