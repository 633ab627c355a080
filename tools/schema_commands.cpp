// qorv_admin init and upgrade-table: the tables t_file and t_release on the update server, and
// the clients' read-only login.

#include "command.h"
#include "database.h"
#include "reader_login.h"
#include "release_table.h"

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

/// init's second part: t_release beside t_file, and the read-only login when asked for.
int init_release_and_reader(invocation& call, rt::transaction& t, const QString& server)
{
    if (!has_release_table(t)) {
        if (create_release_table(t) != 0)
            return database_error(call, t, QStringLiteral("cannot create table t_release"));
        if (t.commit() != 0)
            return database_error(call, t, QStringLiteral("cannot commit"));
        call.note(QStringLiteral("created table t_release on %1\n").arg(server));
    }
    if (!call.is_set(QStringLiteral("reader")))
        return success;
    const QString name = call.value(QStringLiteral("reader"));
    const QString password = call.is_set(QStringLiteral("reader-password"))
                                 ? call.value(QStringLiteral("reader-password"))
                                 : QString();
    if (t.dialect() == rt::sql_dialect::tsql) {
        call.print(reader_tsql(name, password));
        return success;
    }
    return create_reader(call, t, name, password);
}

int run_init(invocation& call)
{
    const auto s = database_of(call);
    if (!s)
        return usage_error;
    const bool reader = call.is_set(QStringLiteral("reader"));
    if (!reader && call.is_set(QStringLiteral("reader-password")))
        return call.usage(QStringLiteral("--reader-password needs --reader"));
    QString ddl;
    switch (rt::dbms_kind_of(s->server)) {
    case rt::dbms_kind::sqlserver:
        if (reader && !call.is_set(QStringLiteral("reader-password")))
            return call.usage(QStringLiteral("a SQL Server login needs --reader-password"));
        call.print(tsql_schema + release_table_tsql());
        if (reader)
            call.print(reader_tsql(call.value(QStringLiteral("reader")),
                                   call.value(QStringLiteral("reader-password"))));
        return success;
    case rt::dbms_kind::odbc:
        break; // chosen by the data source's dialect below
    case rt::dbms_kind::sqlite:
        if (reader)
            return call.usage(QStringLiteral("SQLite has no logins: --reader needs PostgreSQL or "
                                             "SQL Server"));
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
    // A server set up before: --reader adds what is missing and the login.
    const bool has_table =
        t.select_value(QStringLiteral("select count(*) from t_file where 1 = 0")).has_value();
    t.rollback();
    if (reader && has_table) {
        call.note(QStringLiteral("table t_file exists already on %1\n").arg(s->server));
        return init_release_and_reader(call, t, s->server);
    }
    const auto created = [&] {
        if (t.commit() != 0)
            return database_error(call, t, QStringLiteral("cannot commit"));
        call.note(QStringLiteral("created table t_file on %1\n").arg(s->server));
        return init_release_and_reader(call, t, s->server);
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

int add_filehash(invocation& call, rt::transaction& t, const QString& server)
{
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
    call.note(QStringLiteral("added the column filehash to t_file on %1\n").arg(server));
    return success;
}

int run_upgrade_table(invocation& call)
{
    const auto s = database_of(call);
    if (!s)
        return usage_error;
    if (rt::dbms_kind_of(s->server) == rt::dbms_kind::sqlserver) {
        call.print(QStringLiteral("alter table t_file add filehash char(64) null;\n"
                                  "if object_id(N't_release', N'U') is null\n    ") +
                   release_table_tsql());
        return success;
    }
    rt::transaction t;
    if (int rc = connect(call, t, *s); rc != success)
        return rc;
    if (int rc = add_filehash(call, t, s->server); rc != success)
        return rc;
    if (has_release_table(t)) {
        call.note(QStringLiteral("table t_release exists already\n"));
        return success;
    }
    if (create_release_table(t) != 0)
        return database_error(call, t, QStringLiteral("cannot create table t_release"));
    if (t.commit() != 0)
        return database_error(call, t, QStringLiteral("cannot commit"));
    call.note(QStringLiteral("added table t_release (signed releases) on %1\n").arg(s->server));
    return success;
}

} // namespace

std::vector<command> schema_commands()
{
    return {
        {.name = QStringLiteral("init"),
         .summary = QStringLiteral("create tables t_file and t_release"),
         .description = QStringLiteral(
             "Creates table t_file, and t_release for signed releases, on SQLite (the file is "
             "created when missing) or PostgreSQL. With --reader it also creates a login that "
             "may only read them, for the clients' qorv.ini. For SQL Server the T-SQL is "
             "printed for the database administrator instead."),
         .database = command::database_options::used,
         .options = {{QStringLiteral("reader"),
                      QStringLiteral("Also create the read-only login NAME for the clients "
                                     "(PostgreSQL; printed for SQL Server)."),
                      QStringLiteral("name")},
                     {QStringLiteral("reader-password"),
                      QStringLiteral("Password of the read-only login."),
                      QStringLiteral("password")}},
         .run = run_init},
        {.name = QStringLiteral("upgrade-table"),
         .summary = QStringLiteral("add the column filehash and table t_release to an older "
                                   "server"),
         .description = QStringLiteral(
             "Adds the column filehash (the SHA-256 of each file, stored by publish) to an "
             "existing table t_file, and table t_release (signed releases, see sign) beside it. "
             "Updaters verify downloads with the hash and skip files whose installed copy "
             "already matches; older updaters ignore both. Files published before keep an "
             "empty hash. For SQL Server the T-SQL is printed instead."),
         .database = command::database_options::used,
         .run = run_upgrade_table},
    };
}

} // namespace qorv::admin
