#pragma once

#include "release_key.h"
#include "release_manifest.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace qorv {

class update_server;

/// The publisher key an installation trusts. Without one, releases are installed unchecked.
struct trusted_key {
    QString text; ///< as configured; empty: no key
    /// std::nullopt while `text` is not a usable key: then every release is refused.
    std::optional<release::public_key> key;
    bool configured() const { return !text.trimmed().isEmpty(); }
};

/// The key built into the program when there is one (it wins), otherwise the installation's.
trusted_key trusted_key_of(const QString& built_in, const QString& ini_pubkey);

/// The key of the installation whose settings are `ini_file`: the one built into the program
/// (CMake option QORV_RELEASE_PUBKEY), otherwise the `pubkey` line of section [qorv].
trusted_key installation_key(const QString& ini_file);

/// A version's signed release, checked before anything is downloaded: its record exists, the
/// signature verifies with the trusted key, the manifest names the version being installed and
/// exactly the files the server lists for it, in the same order. The served files are then
/// checked one by one against it: size before the download, SHA-256 after it, before anything
/// is moved into place.
class release_check {
public:
    /// The checked release of `version` (the version as displayed); std::nullopt with the
    /// message for the user in `reason` when it must not be installed.
    static std::optional<release_check> verify(update_server& server, const trusted_key& key,
                                               const QString& version, QString* reason);

    /// The message when the file served as number `index` (from 0) is not the signed one by
    /// name or size; empty when it is.
    QString file_problem(qsizetype index, const QString& name, qint64 size) const;
    /// The signed SHA-256 of file number `index` (from 0).
    QString sha256(qsizetype index) const { return manifest_.files.at(index).sha256; }
    /// The message for file number `index` when its downloaded bytes have another SHA-256.
    QString content_problem(qsizetype index) const;
    /// The message when the server served `served` files where the manifest lists another number;
    /// empty when they agree.
    QString count_problem(qsizetype served) const;

    /// The message of a failed update refused for `reason`.
    static QString failed(const QString& reason);

    /// The first difference between the names the server lists and those the manifest lists,
    /// as the message for the user; empty when they are the same, in the same order.
    static QString names_problem(const release::manifest& signed_release,
                                 const QStringList& served);

private:
    release::manifest manifest_;
};

/// What `--check` says about the signature of the newest version.
struct release_status {
    bool accepted = false; ///< signed by the trusted key, and matching what the server lists
    QString line;          ///< the line to print
};

/// For `--check`: std::nullopt when no key is configured, otherwise whether `version` would be
/// installed (its files' contents are checked only when they are downloaded).
std::optional<release_status> check_release(update_server& server, const QString& ini_file,
                                            const QString& version);

} // namespace qorv
