#pragma once

#include "settings_key.h"

#include <QLibrary>
#include <QString>

namespace rt {
class transaction;
}

namespace qorv {

/// The raw values of section [qorv] of qorv.ini, in the order they are read.
struct raw_settings {
    QString servername; // k1, encrypted
    QString database;   // k2, encrypted
    QString user;       // k3, encrypted
    QString password;   // k4, encrypted
    QString ver;        // k5, plain
};

/// Reads section [qorv] of `ini_file`; absent values are empty.
raw_settings read_settings(const QString& ini_file);

/// The settings cipher, bound by name at run time: liblmget beside the program first, then on
/// the library path.
class settings_cipher {
public:
    settings_cipher();
    /// True when the library and lm_j_m were found; otherwise error() says why.
    bool loaded() const { return lm_j_m_ != nullptr; }
    QString error() const { return error_; }

    /// The clear text of a stored value. Text crosses in the ANSI code page both ways. Without the
    /// library the result is empty.
    QString lm_j_m(const QString& key, const QString& value) const;

private:
    using lm_j_m_fn = char* (*)(char*, char*);
    QLibrary library_;
    lm_j_m_fn lm_j_m_ = nullptr;
    QString error_;
};

/// The connection set-up: decrypts the four settings, fills the connection fields and connects.
/// Returns true when connected; otherwise `reason` (if given) tells the technical cause.
bool connect_update_server(rt::transaction& sqlca, const raw_settings& raw,
                           const settings_cipher& cipher, QString* reason = nullptr);

} // namespace qorv
