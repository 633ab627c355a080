// qorv_admin init and upgrade-table: the table t_file on the update server.

#include "command.h"
#include "database.h"

#include <rt/db/transaction.h>

namespace qorv::admin {

namespace {

const QString tsql_schema = QStringLiteral("create table t_file (\n"
                                           "    filename nvarchar(260) not null,\n"
                                           "    ver decimal(12,3) not null,\n"
                                           "    filedata varbinary(max) null,\n"
                                           "    filehash char(64) null,\n"
                                           "    constraint pk_t_file primary key (filename, ver)\n"
                                           ");\n");

int run_init(invocation& call)
{
    const auto s = database_of(call);
    if (!s)
        return usage_error;
    QString ddl;
    switch (rt::dbms_kind_of(s->server)) {
    case rt::dbms_kind::sqlserver:
        call.print(tsql_schema);
        return success;
    case rt::dbms_kind::odbc:
        break; // chosen by the data source's dialect below
    case rt::dbms_kind::sqlite:
        ddl = QStringLiteral("create table t_file (filename text not null, ver numeric not null, "
                             "filedata blob, filehash text, primary key (filename, ver))");
        break;
    case rt::dbms_kind::postgresql:
        // Large objects, because bytea cannot hold files of a gigabyte.
        ddl = QStringLiteral("create table t_file (filename text not null, ver numeric(12,3) "
                             "not null, filedata oid, filehash char(64), primary key "
                             "(filename, ver))");
        break;
    }
    rt::transaction t;
    if (int rc = connect(call, t, *s, true); rc != success)
        return rc;
    const auto created = [&] {
        if (t.commit() != 0)
            return database_error(call, t, QStringLiteral("cannot commit"));
        call.note(QStringLiteral("created table t_file on %1\n").arg(s->server));
        return int(success);
    };
    if (ddl.isEmpty() && t.dialect() == rt::sql_dialect::tsql) {
        ddl = tsql_schema;
    } else if (ddl.isEmpty()) {
        // bytea is PostgreSQL's byte string; other data sources take the standard's blob.
        const QString odbc_ddl =
            QStringLiteral("create table t_file (filename varchar(260) not null, ver "
                           "numeric(12,3) not null, filedata %1, filehash char(64), primary key "
                           "(filename, ver))");
        if (t.execute(odbc_ddl.arg(QLatin1String("bytea"))) == 0) {
            // Stored uncompressed, so that reading a piece of a value reads only that piece.
            if (t.execute(QStringLiteral("alter table t_file alter column filedata set storage "
                                         "external")) != 0)
                return database_error(call, t, QStringLiteral("cannot create table t_file"));
            return created();
        }
        t.rollback();
        ddl = odbc_ddl.arg(QLatin1String("blob"));
    }
    if (t.execute(ddl) != 0)
        return database_error(call, t, QStringLiteral("cannot create table t_file"));
    return created();
}

int run_upgrade_table(invocation& call)
{
    const auto s = database_of(call);
    if (!s)
        return usage_error;
    if (rt::dbms_kind_of(s->server) == rt::dbms_kind::sqlserver) {
        call.print(QStringLiteral("alter table t_file add filehash char(64) null;\n"));
        return success;
    }
    rt::transaction t;
    if (int rc = connect(call, t, *s); rc != success)
        return rc;
    if (has_filehash(t)) {
        call.note(QStringLiteral("t_file already has the column filehash\n"));
        return success;
    }
    const QString type =
        t.kind() == rt::dbms_kind::sqlite ? QStringLiteral("text") : QStringLiteral("char(64)");
    if (t.execute(
            QStringLiteral("alter table t_file add %1 filehash %2")
                .arg(t.dialect() == rt::sql_dialect::tsql ? QString() : QStringLiteral("column"),
                     type)) != 0)
        return database_error(call, t, QStringLiteral("cannot add the column filehash"));
    if (t.commit() != 0)
        return database_error(call, t, QStringLiteral("cannot commit"));
    call.note(QStringLiteral("added the column filehash to t_file on %1\n").arg(s->server));
    return success;
}

} // namespace

std::vector<command> schema_commands()
{
    return {
        {.name = QStringLiteral("init"),
         .summary = QStringLiteral("create table t_file"),
         .description = QStringLiteral(
             "Creates table t_file on SQLite (the file is created when missing) or PostgreSQL. "
             "For SQL Server the T-SQL is printed for the database administrator instead."),
         .database = command::database_options::used,
         .run = run_init},
        {.name = QStringLiteral("upgrade-table"),
         .summary = QStringLiteral("add the column filehash to an existing t_file"),
         .description = QStringLiteral(
             "Adds the column filehash (the SHA-256 of each file, stored by publish) to an "
             "existing table t_file. Updaters verify downloads with it and skip files whose "
             "installed copy already matches; older updaters ignore it. Files published before "
             "keep an empty hash. For SQL Server the T-SQL is printed instead."),
         .database = command::database_options::used,
         .run = run_upgrade_table},
    };
}

} // namespace qorv::admin
