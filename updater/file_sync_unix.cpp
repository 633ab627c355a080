#include "file_sync.h"

#include <fcntl.h>
#include <unistd.h>

namespace qorv {

std::filesystem::path native_path(const QString& path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

bool sync_data(QFile& file)
{
    return ::fdatasync(file.handle()) == 0;
}

void start_writeback(QFile& file, qint64 from, qint64 length)
{
#ifdef __linux__
    ::sync_file_range(file.handle(), from, length, SYNC_FILE_RANGE_WRITE);
#else
    (void)file;
    (void)from;
    (void)length;
#endif
}

void sync_directory(const QString& dir)
{
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool write_synced(const QString& path, const QByteArray& bytes)
{
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n <= 0)
            break;
        done += n;
    }
    bool ok = done == bytes.size() && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    return ok;
}

} // namespace qorv
