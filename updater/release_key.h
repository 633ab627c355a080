#pragma once

// Ed25519 keys of the publisher of releases (OpenSSL), shared by qorv_admin (which signs) and
// qorv_update (which verifies).

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>
#include <optional>

namespace qorv::release {

/// A publisher's public key. Its text form is one line of 60 characters: the base64 of the key's
/// DER SubjectPublicKeyInfo, that is the body of a PEM "PUBLIC KEY" block, so that
/// "-----BEGIN PUBLIC KEY-----", the line and "-----END PUBLIC KEY-----" make a file that
/// `openssl pkeyutl -verify -pubin -inkey FILE -rawin` takes.
class public_key {
public:
    /// The key of a text form; std::nullopt with the reason in `why` for anything that is not an
    /// Ed25519 key in that form (surrounding blanks are ignored).
    static std::optional<public_key> from_text(const QString& text, QString* why = nullptr);

    /// The one-line text form.
    QString text() const;
    /// A short name of the key: the first 16 hexadecimal digits of the SHA-256 of its DER form
    /// (`echo KEY | base64 -d | sha256sum | cut -c1-16`).
    QString fingerprint() const;
    /// True when `signature` is this key's Ed25519 signature of `message`.
    bool verify(QByteArrayView message, QByteArrayView signature) const;

private:
    friend class private_key;
    std::shared_ptr<void> key_; // EVP_PKEY
    QByteArray der_;
};

/// A publisher's private key. Never stored on the update server or the clients.
class private_key {
public:
    /// A new random key; std::nullopt when OpenSSL cannot make one.
    static std::optional<private_key> generate();
    /// The key of an unencrypted PEM private key (PKCS#8, as pem() writes it); std::nullopt with
    /// the reason in `why` when it is no Ed25519 key.
    static std::optional<private_key> from_pem(QByteArrayView pem, QString* why = nullptr);

    /// The PEM form (PKCS#8, unencrypted).
    QByteArray pem() const;
    public_key public_part() const;
    /// The 64-byte Ed25519 signature of `message`; empty when OpenSSL fails.
    QByteArray sign(QByteArrayView message) const;

private:
    std::shared_ptr<void> key_; // EVP_PKEY
};

} // namespace qorv::release
