#include "database.h"

#include "command.h"
#include "lmget_cipher.h"
#include "settings_key.h"

#include <rt/db/transaction.h>
#include <rt/value/codepage.h>
#include <rt/value/profile.h>

#include <QFileInfo>

#include <iterator>

namespace qorv::admin {

std::optional<database_settings> database_of(invocation& call)
{
    const auto refuse = [&](const QString& why) -> std::optional<database_settings> {
        call.usage(why);
        return std::nullopt;
    };
    database_settings s;
    QString* const fields[] = {&s.server, &s.database, &s.user, &s.password};
    if (call.is_set(QStringLiteral("ini"))) {
        const QString file = call.value(QStringLiteral("ini"));
        if (!QFileInfo(file).isFile())
            return refuse(QStringLiteral("settings file %1 does not exist").arg(file));
        for (std::size_t i = 0; i < std::size(fields); ++i) {
            const QString key = QString::fromLatin1(database_setting_keys[i]);
            const QByteArray stored =
                rt::profile_string(file, QStringLiteral("qorv"), key).toLatin1();
            const auto value = lmget::decrypt(qorv::sys_mm, stored.toStdString());
            if (!value)
                return refuse(
                    QStringLiteral("%1 of %2 is missing or does not decrypt").arg(key, file));
            *fields[i] = rt::from_ansi(QByteArray::fromStdString(*value));
        }
    }
    for (std::size_t i = 0; i < std::size(fields); ++i)
        if (call.is_set(QLatin1String(database_option_names[i])))
            *fields[i] = call.value(QLatin1String(database_option_names[i]));
    if (s.server.trimmed().isEmpty())
        return refuse(QStringLiteral("no database server given (--server or --ini)"));
    return s;
}

int connect(invocation& call, rt::transaction& t, const database_settings& s, bool create)
{
    t.servername = s.server.trimmed();
    t.logid = s.user;
    t.logpass = s.password;
    t.lock = QStringLiteral("RC");
    t.autocommit = false;
    t.dbparm = QStringLiteral("timeout = 5,Database='%1',Provider='SQLNCLI10'").arg(s.database);
    if (create)
        t.dbparm += QStringLiteral(",Create='yes'");
    if (t.connect() != 0)
        return call.fail(
            QStringLiteral("cannot connect to %1: %2").arg(t.servername, t.sqlerrtext));
    return success;
}

int database_error(invocation& call, rt::transaction& t, const QString& what)
{
    const QString text = t.sqlerrtext;
    const long code = t.sqldbcode;
    t.rollback();
    return call.fail(QStringLiteral("%1: database error %2: %3").arg(what).arg(code).arg(text));
}

bool delete_file(rt::transaction& t, const QString& name, const QString& version)
{
    // A file's large object, if it has one, goes with its row.
    return t.delete_blob_rows(QStringLiteral("t_file"), QStringLiteral("filedata"),
                              QStringLiteral("filename = ? and ver = ?"), {name, version}) == 0;
}

bool has_filehash(rt::transaction& t)
{
    const bool has =
        t.select_value(QStringLiteral("select count(filehash) from t_file where 1 = 0"))
            .has_value();
    t.rollback(); // a failed statement may have ended the transaction; start clean either way
    return has;
}

} // namespace qorv::admin
