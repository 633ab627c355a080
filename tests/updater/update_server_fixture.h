#pragma once

// A real update server for the updater's tests: a SQLite file in a temporary directory, or a
// fresh database on the PostgreSQL server that the suite starts (see tests/postgresql).

#include "pg_server.h"

#include <rt/db/transaction.h>

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <optional>

namespace qorv::test {

struct server_file {
    QString name;
    QString ver;
    QByteArray contents; // a null QByteArray stores a null value
};

/// One update server with table t_file, and an installation directory beside it.
class update_server_fixture {
public:
    /// `backend` is "sqlite", "postgresql", "odbc" (the suite's PostgreSQL through unixODBC) or
    /// "pgbouncer" (the suite's PostgreSQL through its PgBouncer in transaction pooling mode). On
    /// failure valid() is false and error() says why. "postgresql" and "odbc" use the PostgreSQL
    /// server `on` when given, else the suite's.
    explicit update_server_fixture(const QString& backend,
                                   const std::optional<pg_server>& on = std::nullopt);
    ~update_server_fixture();

    bool valid() const { return error_.isEmpty(); }
    QString error() const { return error_; }

    /// The installation directory (empty, with its qorv.ini still absent).
    QString install_dir() const { return install_.path(); }
    QString ini_file() const { return QDir(install_.path()).filePath(QStringLiteral("qorv.ini")); }

    /// Connection fields for the server, in clear text.
    QString servername() const { return servername_; }
    QString database() const { return database_; }
    QString user() const { return user_; }
    QString password() const { return password_; }

    /// Stores files on the server (committed).
    bool add(const QList<server_file>& files);

    /// A connected transaction on the server, as the updater fills it.
    std::unique_ptr<rt::transaction> connect() const;

private:
    QTemporaryDir server_dir_;
    QTemporaryDir install_;
    QString servername_, database_, user_, password_;
    std::optional<pg_server> pg_; // where databases are created and dropped
    QString error_;
};

/// True when the suite's PostgreSQL server is available to this test.
bool postgresql_available();

} // namespace qorv::test

/// Skips a test on PostgreSQL when the suite's server is not running; fails it when the
/// server runs but the fixture `server` could not be made.
#define NEED(server)                                                                               \
    do {                                                                                           \
        if (!(server).valid() && !qorv::test::postgresql_available())                              \
            QSKIP("the suite's PostgreSQL server is not running");                                 \
        QVERIFY2((server).valid(), qPrintable((server).error()));                                  \
    } while (false)
