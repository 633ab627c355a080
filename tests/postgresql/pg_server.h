#pragma once

// How a test reaches the PostgreSQL server of the "postgresql" fixture: environment variables
// QORV_PG_SERVER, QORV_PG_DATABASE, QORV_PG_USER and QORV_PG_PASSWORD when set, otherwise the
// KEY=VALUE file that tests/postgresql/start.sh wrote, named by QORV_PG_ENV.

#include <QFile>
#include <QString>
#include <QStringList>

#include <optional>

namespace qorv::test {

struct pg_server {
    QString server; ///< postgresql://127.0.0.1:PORT
    QString database;
    QString user;
    QString password;
};

/// The server described by the KEY=VALUE file named by environment variable `file_variable`
/// alone, or std::nullopt (with the reason in `why`).
inline std::optional<pg_server> read_pg_server(const char* file_variable, QString* why = nullptr)
{
    const QString file = qEnvironmentVariable(file_variable);
    QFile f(file);
    if (file.isEmpty() || !f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        if (why)
            *why = QStringLiteral("%1 names no readable file").arg(QLatin1String(file_variable));
        return std::nullopt;
    }
    pg_server s;
    for (const QString& line : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'))) {
        const QString key = line.section(QLatin1Char('='), 0, 0);
        const QString value = line.section(QLatin1Char('='), 1);
        if (key == QLatin1String("QORV_PG_SERVER"))
            s.server = value;
        else if (key == QLatin1String("QORV_PG_DATABASE"))
            s.database = value;
        else if (key == QLatin1String("QORV_PG_USER"))
            s.user = value;
        else if (key == QLatin1String("QORV_PG_PASSWORD"))
            s.password = value;
    }
    if (s.server.isEmpty()) {
        if (why)
            *why = QStringLiteral("no server described in %1").arg(file);
        return std::nullopt;
    }
    return s;
}

/// The test server, or std::nullopt (with the reason in `why`) when none is described.
inline std::optional<pg_server> find_pg_server(QString* why = nullptr)
{
    auto value = [](const char* name, const QStringList& lines) {
        const QString env = qEnvironmentVariable(name);
        if (!env.isEmpty())
            return env;
        const QString prefix = QString::fromLatin1(name) + QLatin1Char('=');
        for (const QString& line : lines)
            if (line.startsWith(prefix))
                return line.mid(prefix.size());
        return QString();
    };
    QStringList lines;
    const QString file = qEnvironmentVariable("QORV_PG_ENV");
    if (!file.isEmpty()) {
        QFile f(file);
        if (f.open(QIODevice::ReadOnly | QIODevice::Text))
            lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    }
    pg_server s{value("QORV_PG_SERVER", lines), value("QORV_PG_DATABASE", lines),
                value("QORV_PG_USER", lines), value("QORV_PG_PASSWORD", lines)};
    if (s.server.isEmpty()) {
        if (why)
            *why = file.isEmpty() ? QStringLiteral("QORV_PG_SERVER and QORV_PG_ENV are not set")
                                  : QStringLiteral("no server described in %1").arg(file);
        return std::nullopt;
    }
    return s;
}

} // namespace qorv::test
