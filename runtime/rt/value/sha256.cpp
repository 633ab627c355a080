#include <rt/value/sha256.h>

#include <QFile>

#include <openssl/evp.h>

#include <vector>

namespace rt {

struct sha256::state {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ~state() { EVP_MD_CTX_free(ctx); }
};

sha256::sha256() : d(std::make_unique<state>())
{
    EVP_DigestInit_ex(d->ctx, EVP_sha256(), nullptr);
}

sha256::~sha256() = default;

void sha256::add(QByteArrayView data)
{
    EVP_DigestUpdate(d->ctx, data.data(), std::size_t(data.size()));
}

QString sha256::hex()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(d->ctx, digest, &length);
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(digest), qsizetype(length)).toHex());
}

std::optional<QString> sha256_of_file(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    sha256 hash;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const qint64 n = file.read(buffer.data(), qint64(buffer.size()));
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        hash.add(QByteArrayView(buffer.data(), n));
    }
    return hash.hex();
}

} // namespace rt
