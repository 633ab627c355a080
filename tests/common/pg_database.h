#pragma once

#include "pg_server.h"

#include <rt/db/transaction.h>

#include <QString>

namespace qorv::test {

/// Connects `admin` to the server's own database in autocommit mode, as creating and dropping
/// databases needs (neither may run inside a transaction). True when connected; otherwise
/// `admin.sqlerrtext` says why.
bool connect_admin(rt::transaction& admin, const pg_server& pg);

/// Drops the database `name` on the server `pg`, if it exists and the server can be reached.
void drop_database(const pg_server& pg, const QString& name);

} // namespace qorv::test
