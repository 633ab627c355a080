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
