#pragma once

// What qorv_admin's commands share to reach the update server's database.

#include <QString>

#include <optional>

namespace rt {
class transaction;
}

namespace qorv::admin {

class invocation;

/// The database options, and the keys of qorv.ini that hold their values encrypted, in the
/// same order.
inline constexpr const char* database_option_names[] = {"server", "database", "user", "password"};
inline constexpr const char* database_setting_keys[] = {"servername", "database", "user",
                                                        "password"};

/// The database a command works on.
struct database_settings {
    QString server, database, user, password;
};

/// The database of a command that takes the database options: from --ini FILE (the encrypted
/// settings of a qorv.ini), each overridden by --server, --database, --user and --password when
/// given. std::nullopt, after a usage error was reported, when the file is missing or does not
/// decrypt, or no server is given.
std::optional<database_settings> database_of(invocation& call);

/// Connects `t` as the updater does: read committed, no automatic commit, 5 s time-out; `create`
/// makes a missing SQLite file. Returns success, or failure after reporting it.
int connect(invocation& call, rt::transaction& t, const database_settings& s, bool create = false);

/// Reports the database error of `t` after `what`, and rolls back. Returns failure.
int database_error(invocation& call, rt::transaction& t, const QString& what);

/// Deletes the row of file `name` in `version` from t_file, and on PostgreSQL the large object
/// it holds. False, with the error in `t`, on failure.
bool delete_file(rt::transaction& t, const QString& name, const QString& version);

/// True when t_file has the column filehash (tables created before it was introduced do not).
/// Ends the current transaction.
bool has_filehash(rt::transaction& t);

} // namespace qorv::admin
