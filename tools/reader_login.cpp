#include "reader_login.h"

#include "command.h"
#include "database.h"

#include <rt/db/transaction.h>

namespace qorv::admin {

QString reader_tsql(const QString& name, const QString& password)
{
    const QString login =
        QLatin1Char('[') + QString(name).replace(u']', QStringLiteral("]]")) + QLatin1Char(']');
    const QString secret = QString(password).replace(u'\'', QStringLiteral("''"));
    return QStringLiteral("create login %1 with password = N'%2';\n"
                          "create user %1 for login %1;\n"
                          "grant select on t_file to %1;\n"
                          "grant select on t_release to %1;\n")
        .arg(login, secret);
}

int create_reader(invocation& call, rt::transaction& t, const QString& name,
                  const QString& password)
{
    // The server quotes the name and the password itself, whatever characters they hold.
    const auto role = t.select_value(QStringLiteral("select quote_ident(?)"), {name});
    if (!role || role->isEmpty()) {
        t.rollback();
        return call.fail(QStringLiteral("cannot create the login %1: logins are created on "
                                        "PostgreSQL (and printed for SQL Server) only")
                             .arg(name));
    }
    QString create = QStringLiteral("create role %1 login").arg(*role);
    if (!password.isNull()) {
        const auto literal = t.select_value(QStringLiteral("select quote_literal(?)"), {password});
        if (!literal)
            return database_error(call, t, QStringLiteral("cannot create the login %1").arg(name));
        create += QStringLiteral(" password ") + *literal;
    }
    if (t.execute(create) != 0 ||
        t.execute(QStringLiteral("grant select on t_file, t_release to %1").arg(*role)) != 0)
        return database_error(call, t, QStringLiteral("cannot create the login %1").arg(name));
    if (t.kind() == rt::dbms_kind::postgresql)
        if (int rc = grant_readers(call, t, {}); rc != success)
            return rc;
    if (t.commit() != 0)
        return database_error(call, t, QStringLiteral("cannot commit"));
    call.note(QStringLiteral("created the login %1, which may only read t_file and t_release\n")
                  .arg(name));
    return success;
}

int grant_readers(invocation& call, rt::transaction& t, const QString& version)
{
    // Only large objects have privileges of their own; bytes in the table are read with it.
    const auto objects =
        t.refers_to_large_objects(QStringLiteral("t_file"), QStringLiteral("filedata"));
    if (!objects)
        return database_error(call, t, QStringLiteral("cannot read the type of t_file.filedata"));
    if (!*objects)
        return success;
    // Readers: roles that may select from t_file but not insert into it (the publisher, the
    // table's owner and superusers may insert; the server's own pg_ roles are left alone).
    const QString sql = QStringLiteral(
        "with readers as (select rolname from pg_roles where rolname not like 'pg\\_%' and "
        "has_table_privilege(oid, 't_file', 'select') and "
        "not has_table_privilege(oid, 't_file', 'insert')), "
        "objects as (select distinct filedata from t_file where filedata is not null%1) "
        "select format('grant select on large object %s to %I', filedata, rolname) "
        "from objects cross join readers");
    // A publication grants on the objects it made (the current login's): it may not grant on
    // other logins' objects.
    const QString made_here = QStringLiteral(
        " and ver = ? and filedata in (select oid from pg_largeobject_metadata where lomowner = "
        "(select oid from pg_roles where rolname = current_user))");
    rt::cursor grants = version.isEmpty() ? t.open_cursor(sql.arg(QString()))
                                          : t.open_cursor(sql.arg(made_here), {version});
    std::vector<QString> statements;
    for (auto row = grants.fetch(); row; row = grants.fetch())
        statements.push_back(row->at(0));
    if (t.sqlcode < 0)
        return database_error(call, t, QStringLiteral("cannot find the read-only logins"));
    for (const QString& statement : statements)
        if (t.execute(statement) != 0)
            return database_error(call, t,
                                  QStringLiteral("cannot let the read-only logins read the files"));
    return success;
}

} // namespace qorv::admin
