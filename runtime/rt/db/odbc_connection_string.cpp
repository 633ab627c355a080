// The connection string of an "odbc:" data source, with the login and database of the connection
// fields added in the form the data source's driver reads.

#include <rt/db/transaction_p.h>

#include <QRegularExpression>

#include <sql.h>

#include <odbcinst.h>

namespace rt::detail {

bool is_postgresql_driver(const QString& connection_string)
{
    static const QRegularExpression pair(QStringLiteral("(?:^|;)\\s*(DRIVER|DSN)\\s*=\\s*(\\{[^}]*"
                                                        "\\}|[^;]*)"),
                                         QRegularExpression::CaseInsensitiveOption);
    const auto m = pair.match(connection_string);
    if (!m.hasMatch())
        return false;
    QString value = m.captured(2).trimmed();
    if (value.startsWith(QLatin1Char('{')))
        value = value.mid(1, value.size() - 2);
    if (m.captured(1).compare(QLatin1String("DSN"), Qt::CaseInsensitive) == 0) {
        char driver[512] = {};
        SQLGetPrivateProfileString(value.toUtf8().constData(), "Driver", "", driver, sizeof driver,
                                   "odbc.ini");
        value = QString::fromUtf8(driver);
    }
    return value.contains(QLatin1String("psqlodbc"), Qt::CaseInsensitive) ||
           value.contains(QLatin1String("postgres"), Qt::CaseInsensitive);
}

QString odbc_connection_string(QString text, const QString& database, const QString& user,
                               const QString& password, bool postgresql_driver)
{
    const auto names = [&](const char* key) {
        return text.contains(
            QRegularExpression(QStringLiteral("(^|;)\\s*%1\\s*=").arg(QLatin1String(key)),
                               QRegularExpression::CaseInsensitiveOption));
    };
    // A value in braces, a closing brace doubled, as the ODBC grammar has it.
    const auto braced = [](QString v) {
        v.replace(QLatin1Char('}'), QLatin1String("}}"));
        return QLatin1Char('{') + v + QLatin1Char('}');
    };
    QStringList extra;
    if (postgresql_driver) {
        // The PostgreSQL driver keeps the braces of UID and DATABASE as part of the value and
        // splits at every ';' outside braces, so a name holding ';' or starting with '{' goes
        // through pqopt, the driver's libpq options, where it is quoted as libpq reads it.
        // PWD loses its braces but turns an unbraced '+' into a blank: it is always braced.
        const auto plain = [](const QString& v) {
            return !v.contains(QLatin1Char(';')) && !v.startsWith(QLatin1Char('{'));
        };
        const auto libpq_quoted = [](QString v) {
            v.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
            v.replace(QLatin1Char('\''), QLatin1String("\\'"));
            return QLatin1Char('\'') + v + QLatin1Char('\'');
        };
        QStringList options;
        if (!database.isEmpty() && !names("DATABASE")) {
            if (plain(database) || names("PQOPT"))
                extra << QStringLiteral("DATABASE=") + database;
            else
                options << QStringLiteral("dbname=") + libpq_quoted(database);
        }
        if (!user.isEmpty() && !names("UID")) {
            if (plain(user) || names("PQOPT"))
                extra << QStringLiteral("UID=") + user;
            else
                options << QStringLiteral("user=") + libpq_quoted(user);
        }
        if (!options.isEmpty())
            extra << QStringLiteral("pqopt=") + braced(options.join(QLatin1Char(' ')));
        if (!password.isEmpty() && !names("PWD"))
            extra << QStringLiteral("PWD=") + braced(password);
        // Debian's driver entry switches the driver's logs on for every program.
        if (!names("COMMLOG"))
            extra << QStringLiteral("CommLog=0");
        if (!names("DEBUG"))
            extra << QStringLiteral("Debug=0");
    } else {
        // Braces only where ';' or a leading brace or blank would change the meaning: drivers
        // differ in how they read them, so a value that needs none gets none.
        const auto value = [&](const QString& v) {
            return !v.contains(QLatin1Char(';')) && !v.startsWith(QLatin1Char('{')) &&
                           v.trimmed() == v
                       ? v
                       : braced(v);
        };
        if (!database.isEmpty() && !names("DATABASE"))
            extra << QStringLiteral("DATABASE=") + value(database);
        if (!user.isEmpty() && !names("UID"))
            extra << QStringLiteral("UID=") + value(user);
        if (!password.isEmpty() && !names("PWD"))
            extra << QStringLiteral("PWD=") + value(password);
    }
    if (!extra.isEmpty()) {
        if (!text.isEmpty() && !text.endsWith(QLatin1Char(';')))
            text += QLatin1Char(';');
        text += extra.join(QLatin1Char(';')) + QLatin1Char(';');
    }
    return text;
}

} // namespace rt::detail
