#include "pg_database.h"

namespace qorv::test {

bool connect_admin(rt::transaction& admin, const pg_server& pg)
{
    admin.servername = pg.server;
    admin.logid = pg.user;
    admin.logpass = pg.password;
    admin.dbparm = QStringLiteral("Database='%1'").arg(pg.database);
    admin.autocommit = true;
    return admin.connect() == 0;
}

void drop_database(const pg_server& pg, const QString& name)
{
    rt::transaction admin;
    if (connect_admin(admin, pg))
        // PgBouncer may still hold idle server connections to it: they are ended with it.
        admin.execute(QStringLiteral("drop database if exists %1 with (force)").arg(name));
}

} // namespace qorv::test
