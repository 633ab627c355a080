#include "u_orlen_md5.h"

#include "text_p.h"

#include <QCryptographicHash>
#include <QFile>

#include <openssl/evp.h>

#include <cerrno>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace lumora {

namespace {

const QString crlf = QStringLiteral("\r\n");

/// One MD5 computation: OpenSSL's where it offers MD5, otherwise Qt's own implementation (an
/// OpenSSL limited to a FIPS provider refuses MD5, and a digest never fails).
class md5 {
public:
    md5() : ctx_(EVP_MD_CTX_new())
    {
        if (!ctx_)
            throw std::bad_alloc();
        if (EVP_DigestInit_ex(ctx_.get(), EVP_md5(), nullptr) != 1) {
            ctx_.reset();
            fallback_.emplace(QCryptographicHash::Md5);
        }
    }
    void update(const void* data, std::size_t size)
    {
        if (fallback_) {
            fallback_->addData(
                QByteArrayView(static_cast<const char*>(data), static_cast<qsizetype>(size)));
            return;
        }
        if (EVP_DigestUpdate(ctx_.get(), data, size) != 1)
            throw std::runtime_error("MD5 update failed");
    }
    QByteArray final()
    {
        if (fallback_)
            return fallback_->result();
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        if (EVP_DigestFinal_ex(ctx_.get(), digest, &size) != 1)
            throw std::runtime_error("MD5 finalisation failed");
        return QByteArray(reinterpret_cast<const char*>(digest), size);
    }

private:
    struct deleter {
        void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
    };
    std::unique_ptr<EVP_MD_CTX, deleter> ctx_;
    std::optional<QCryptographicHash> fallback_;
};

/// Reads are this large: big enough that system calls cost nothing beside the digest.
constexpr std::size_t block_size = 1 << 20;

} // namespace

QString u_orlen_md5::uf_md5file(const QString& ls_filename, QString& ls_result) const
{
    ls_result = QStringLiteral(""); // empty, never null
    QString error;

    // The name is read as createpath() reads it: backslashes and a drive letter.
    const QByteArray name = QFile::encodeName(detail::host_path(ls_filename));
    struct stat st {};
    // A name with a NUL in it cannot name a file (the system would read a shorter name).
    const bool exists =
        !name.isEmpty() && !name.contains('\0') && ::stat(name.constData(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode))
        return QStringLiteral("不能是文件夹!");
    if (!exists)
        return QStringLiteral("文件不存在!");
    // Reading a FIFO, socket or device could block or never end.
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("不是普通文件!");

    // The full 64-bit length: a file beyond 4 GiB must not pass as its length modulo 2^32.
    struct stat length_query {};
    if (::stat(name.constData(), &length_query) != 0)
        return QStringLiteral("FileLength:4294967295") + crlf;
    const auto length = static_cast<std::uint64_t>(length_query.st_size);
    if (length == 0)
        return QStringLiteral("文件内容不能为空:0") + crlf;
    if (length > max_file_size)
        return QStringLiteral("最大支持:1,352,663,040") + crlf;

    int fd = -1;
    QByteArray digest;
    try {
        // O_NONBLOCK: should the name have become a FIFO meanwhile, opening it does not wait.
        fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) {
            error = QStringLiteral("CreateFile:") + QString::number(fd) + crlf;
        } else {
            struct stat opened {};
            if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
                error = QStringLiteral("不是普通文件!");
            } else {
                ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
                // Read, not mapped: a file that shrinks meanwhile ends the loop early instead
                // of faulting in a mapping. Exactly the checked length is digested.
                const auto buffer = std::make_unique<unsigned char[]>(block_size);
                md5 hash;
                std::uint64_t done = 0;
                while (done < length) {
                    const std::size_t want = static_cast<std::size_t>(
                        std::min<std::uint64_t>(block_size, length - done));
                    const ssize_t got = ::read(fd, buffer.get(), want);
                    if (got < 0 && errno == EINTR)
                        continue;
                    if (got <= 0)
                        break;
                    hash.update(buffer.get(), static_cast<std::size_t>(got));
                    done += static_cast<std::uint64_t>(got);
                }
                if (done < length)
                    error = QStringLiteral("ReadFile:") + QString::number(done) + crlf;
                else
                    digest = hash.final();
            }
        }
    } catch (const std::exception& e) {
        error += QString::fromUtf8(e.what());
    }

    if (fd >= 0 && ::close(fd) != 0)
        error += QStringLiteral("CloseHandle:false") + crlf;
    if (!error.isEmpty())
        return error;
    hexencode(digest, ls_result);
    return QStringLiteral("");
}

QString u_orlen_md5::uf_md5string(const QByteArray& ls_string, QString& ls_result) const
{
    ls_result = QStringLiteral("");
    md5 hash;
    hash.update(ls_string.constData(), static_cast<std::size_t>(ls_string.size()));
    hexencode(hash.final(), ls_result);
    return QStringLiteral("");
}

QString u_orlen_md5::uf_md5string(const QString& ls_string, QString& ls_result) const
{
    uf_md5string(ls_string.toUtf8(), ls_result);
    return QStringLiteral("");
}

std::int16_t u_orlen_md5::hexencode(const QByteArray& lb_array, QString& lc_result) const
{
    const qsizetype n = lb_array.size();
    if (lc_result.size() < 2 * n)
        lc_result.resize(2 * n);
    for (qsizetype i = 0; i < n; ++i) {
        const auto v = static_cast<unsigned char>(lb_array[i]);
        const QString h = detail::decto_integer(v, 16);
        if (v > 15) {
            lc_result[2 * i] = h[0];
            lc_result[2 * i + 1] = h[1];
        } else {
            lc_result[2 * i] = u'0';
            lc_result[2 * i + 1] = h[0];
        }
    }
    // The count is a 16-bit integer: it wraps around for more than 16383 bytes.
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<std::uint64_t>(n) * 2));
}

QString u_orlen_md5::decto(const std::optional<rt::decimal>& ad_dec,
                           std::optional<std::uint16_t> aui_sys) const
{
    if (!ad_dec || !aui_sys || *aui_sys < 2)
        return {};
    return detail::decto(*ad_dec, *aui_sys);
}

} // namespace lumora
