#include "release_key.h"

#include <QCryptographicHash>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

namespace qorv::release {

namespace {

constexpr std::size_t signature_size = 64;

EVP_PKEY* pkey(const std::shared_ptr<void>& key)
{
    return static_cast<EVP_PKEY*>(key.get());
}

std::shared_ptr<void> own(EVP_PKEY* key)
{
    return std::shared_ptr<void>(key, [](void* p) { EVP_PKEY_free(static_cast<EVP_PKEY*>(p)); });
}

struct md_ctx {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ~md_ctx() { EVP_MD_CTX_free(ctx); }
};

struct bio {
    BIO* b;
    ~bio() { BIO_free(b); }
};

QByteArray der_of(EVP_PKEY* key)
{
    unsigned char* buffer = nullptr;
    const int length = i2d_PUBKEY(key, &buffer);
    if (length <= 0)
        return {};
    QByteArray der(reinterpret_cast<const char*>(buffer), length);
    OPENSSL_free(buffer);
    return der;
}

template <typename T> std::optional<T> refuse(QString* why, const QString& reason)
{
    if (why)
        *why = reason;
    return std::nullopt;
}

} // namespace

std::optional<public_key> public_key::from_text(const QString& text, QString* why)
{
    const QByteArray trimmed = text.trimmed().toLatin1();
    const auto result =
        QByteArray::fromBase64Encoding(trimmed, QByteArray::AbortOnBase64DecodingErrors);
    const QByteArray& decoded = result.decoded;
    if (!result || decoded.isEmpty())
        return refuse<public_key>(why, QStringLiteral("the public key is not base64 text"));
    const auto* p = reinterpret_cast<const unsigned char*>(decoded.constData());
    EVP_PKEY* key = d2i_PUBKEY(nullptr, &p, long(decoded.size()));
    if (!key)
        return refuse<public_key>(why, QStringLiteral("the public key is not a DER public key"));
    public_key key_of_text;
    key_of_text.key_ = own(key);
    key_of_text.der_ = der_of(key);
    if (EVP_PKEY_get_id(key) != EVP_PKEY_ED25519)
        return refuse<public_key>(why, QStringLiteral("the public key is not an Ed25519 key"));
    // One text for one key: trailing bytes or another spelling of the same bytes are refused.
    if (key_of_text.der_ != decoded || key_of_text.text().toLatin1() != trimmed)
        return refuse<public_key>(why, QStringLiteral("the public key text is not canonical"));
    return key_of_text;
}

QString public_key::text() const
{
    return QString::fromLatin1(der_.toBase64());
}

QString public_key::fingerprint() const
{
    return QString::fromLatin1(
        QCryptographicHash::hash(der_, QCryptographicHash::Sha256).toHex().left(16));
}

bool public_key::verify(QByteArrayView message, QByteArrayView signature) const
{
    if (!key_ || std::size_t(signature.size()) != signature_size)
        return false;
    md_ctx md;
    return md.ctx && EVP_DigestVerifyInit(md.ctx, nullptr, nullptr, nullptr, pkey(key_)) == 1 &&
           EVP_DigestVerify(md.ctx, reinterpret_cast<const unsigned char*>(signature.data()),
                            signature_size, reinterpret_cast<const unsigned char*>(message.data()),
                            std::size_t(message.size())) == 1;
}

std::optional<private_key> private_key::generate()
{
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
    if (!key)
        return std::nullopt;
    private_key result;
    result.key_ = own(key);
    return result;
}

std::optional<private_key> private_key::from_pem(QByteArrayView pem, QString* why)
{
    bio in{BIO_new_mem_buf(pem.data(), int(pem.size()))};
    if (!in.b)
        return refuse<private_key>(why, QStringLiteral("out of memory"));
    // No pass phrase is asked for: an encrypted key fails here instead of prompting.
    const auto no_pass_phrase = [](char*, int, int, void*) { return 0; };
    EVP_PKEY* key = PEM_read_bio_PrivateKey(in.b, nullptr, no_pass_phrase, nullptr);
    if (!key)
        return refuse<private_key>(why, QStringLiteral("not an unencrypted PEM private key"));
    private_key result;
    result.key_ = own(key);
    if (EVP_PKEY_get_id(key) != EVP_PKEY_ED25519)
        return refuse<private_key>(why, QStringLiteral("not an Ed25519 key"));
    return result;
}

QByteArray private_key::pem() const
{
    bio out{BIO_new(BIO_s_mem())};
    if (!out.b ||
        PEM_write_bio_PrivateKey(out.b, pkey(key_), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return {};
    char* data = nullptr;
    const long length = BIO_get_mem_data(out.b, &data);
    return QByteArray(data, qsizetype(length));
}

public_key private_key::public_part() const
{
    // Through the DER form, so that the public key holds no private part.
    return *public_key::from_text(QString::fromLatin1(der_of(pkey(key_)).toBase64()));
}

QByteArray private_key::sign(QByteArrayView message) const
{
    md_ctx md;
    QByteArray signature(qsizetype(signature_size), Qt::Uninitialized);
    std::size_t length = signature_size;
    if (!md.ctx || EVP_DigestSignInit(md.ctx, nullptr, nullptr, nullptr, pkey(key_)) != 1 ||
        EVP_DigestSign(md.ctx, reinterpret_cast<unsigned char*>(signature.data()), &length,
                       reinterpret_cast<const unsigned char*>(message.data()),
                       std::size_t(message.size())) != 1 ||
        length != signature_size)
        return {};
    return signature;
}

} // namespace qorv::release
