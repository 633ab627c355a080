#pragma once

// The read-only login of the clients: a login that may read the update tables and nothing else,
// so that the settings every installation carries do not let anyone publish.

#include <QString>

namespace rt {
class transaction;
}

namespace qorv::admin {

class invocation;

/// The T-SQL that creates login `name` with `password` on SQL Server, with a user in the current
/// database that may only read t_file and t_release.
QString reader_tsql(const QString& name, const QString& password);

/// Creates role `name` (with `password` unless it is null) on a PostgreSQL server, natively or
/// through ODBC, that may log in and only read t_file and t_release (and, where the contents are
/// large objects, each file's object). Commits. Returns success, or failure after reporting it.
int create_reader(invocation& call, rt::transaction& t, const QString& name,
                  const QString& password);

/// On PostgreSQL with large objects: every role that may read t_file but not write it may read
/// the large objects of `version` that the current login owns (every large object of t_file
/// when `version` is empty), which a grant on the table does not cover. Runs in the current
/// transaction. Returns success, or failure after reporting it.
int grant_readers(invocation& call, rt::transaction& t, const QString& version);

} // namespace qorv::admin
