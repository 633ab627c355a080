#pragma once

// The signed release records of qorv_admin: table t_release beside t_file, the manifest of a
// version as stored, and the publisher's private key file.

#include "release_key.h"
#include "release_manifest.h"

#include <QString>

#include <map>
#include <optional>

namespace rt {
class transaction;
}

namespace qorv::admin {

class invocation;

/// The T-SQL that creates t_release, for SQL Server's administrator.
QString release_table_tsql();
/// True when the server has table t_release. Ends the current transaction.
bool has_release_table(rt::transaction& t);
/// Creates t_release in the form the connected server takes; returns sqlcode. Call it with no
/// work left uncommitted: where the first form is refused, the transaction is rolled back
/// before the next is tried.
long create_release_table(rt::transaction& t);

/// For each signed version (in normalized form): the fingerprint of the key whose signature its
/// record holds, or "INVALID" when the signature does not verify with that key or the manifest
/// is not one of that version. Empty when the server has no table t_release. Ends the current
/// transaction.
std::map<QString, QString> release_signers(rt::transaction& t);

/// Files whose size and SHA-256 are known because they were just stored, by name.
using known_files = std::map<QString, release::manifest_file>;

/// The manifest of `version` as the server holds it, inside transaction `t`: the file names in
/// the order the server lists them to the updater; the size and SHA-256 of each from `known`
/// when it is there, otherwise of its stored bytes, which must match its filehash when it has
/// one (`with_hash`: t_file has the column). std::nullopt after reporting the failure (the
/// transaction is then rolled back).
std::optional<release::manifest> stored_manifest(invocation& call, rt::transaction& t,
                                                 const QString& version, bool with_hash,
                                                 const known_files& known = {});

/// Signs `m` and stores it as the record of its version in `t`, replacing an earlier one.
/// Returns success, or failure after reporting it (the transaction is then rolled back).
int store_record(invocation& call, rt::transaction& t, const release::manifest& m,
                 const release::private_key& key);

/// Builds the manifest of `version` in `t` (see stored_manifest) and stores it signed with
/// `key`. Returns success, or failure after reporting it (the transaction is then rolled back).
int sign_release(invocation& call, rt::transaction& t, const QString& version, bool with_hash,
                 const known_files& known, const release::private_key& key);

/// The private key of `file`; std::nullopt after reporting why it cannot be used.
std::optional<release::private_key> read_private_key(invocation& call, const QString& file);

} // namespace qorv::admin
