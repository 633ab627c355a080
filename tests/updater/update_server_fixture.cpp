#include "update_server_fixture.h"

#include "pg_database.h"

#include <QFile>
#include <QRandomGenerator>
#include <QUrl>

#include <span>

namespace qorv::test {

namespace {

QString dbparm_for(const QString& database)
{
    // A generous log-in time-out: setting up the server must not fail on a busy machine.
    return QStringLiteral("timeout = 30,Database='") + database +
           QStringLiteral("',Provider='SQLNCLI10'");
}

} // namespace

bool postgresql_available()
{
    return find_pg_server().has_value();
}

update_server_fixture::update_server_fixture(const QString& backend,
                                             const std::optional<pg_server>& on)
{
    if (!server_dir_.isValid() || !install_.isValid()) {
        error_ = QStringLiteral("no temporary directory");
        return;
    }
    QString create_table;
    if (backend == QLatin1String("sqlite")) {
        const QString file = QDir(server_dir_.path()).filePath(QStringLiteral("server.db"));
        QFile(file).open(QIODevice::WriteOnly); // an empty file is an empty database
        servername_ = QStringLiteral("sqlite:") + file;
        create_table =
            QStringLiteral("create table t_file (filename text not null, ver numeric not null, "
                           "filedata blob, primary key (filename, ver))");
    } else {
        // "pgbouncer": the suite's PgBouncer in front of its cluster (transaction pooling).
        pg_ = on ? on
              : backend == QLatin1String("pgbouncer")
                  ? read_pg_server("QORV_PGBOUNCER_ENV", &error_)
                  : find_pg_server(&error_);
        if (!pg_)
            return;
        servername_ = pg_->server;
        user_ = pg_->user;
        password_ = pg_->password;
        // Each fixture gets a database of its own, so that test programs can run side by side.
        database_ = QStringLiteral("qorv_t%1").arg(QRandomGenerator::global()->generate64(), 0, 36);
        rt::transaction admin;
        if (!connect_admin(admin, *pg_) ||
            admin.execute(QStringLiteral("create database ") + database_ +
                          QStringLiteral(" template template0 lc_collate 'C' lc_ctype 'C'")) < 0) {
            error_ = admin.sqlerrtext;
            return;
        }
        create_table = QStringLiteral(
            "create table t_file (filename text not null, ver numeric(12,3) not null, "
            "filedata oid, primary key (filename, ver))");
        if (backend == QLatin1String("odbc")) {
            // The same server through unixODBC and its PostgreSQL driver, with the contents in
            // a byte-string column as any ODBC data source would hold them.
            const QUrl url(pg_->server);
            servername_ =
                QStringLiteral("odbc:Driver=%1;Server=%2;Port=%3")
                    .arg(QStringLiteral("/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so"), url.host())
                    .arg(url.port());
            create_table.replace(QStringLiteral("filedata oid"), QStringLiteral("filedata bytea"));
        }
    }
    auto sqlca = connect();
    if (!sqlca || sqlca->execute(create_table) < 0 || sqlca->commit() < 0)
        error_ = sqlca ? sqlca->sqlerrtext : error_;
}

update_server_fixture::~update_server_fixture()
{
    if (pg_ && !database_.isEmpty())
        drop_database(*pg_, database_);
}

std::unique_ptr<rt::transaction> update_server_fixture::connect() const
{
    auto sqlca = std::make_unique<rt::transaction>();
    sqlca->servername = servername_;
    sqlca->logid = user_;
    sqlca->logpass = password_;
    sqlca->lock = QStringLiteral("RC");
    sqlca->autocommit = false;
    sqlca->dbparm = dbparm_for(database_);
    if (sqlca->connect() < 0) {
        qWarning("cannot connect to %s: %s", qPrintable(servername_),
                 qPrintable(sqlca->sqlerrtext));
        return nullptr;
    }
    return sqlca;
}

bool update_server_fixture::add(const QList<server_file>& files)
{
    auto sqlca = connect();
    if (!sqlca)
        return false;
    for (const server_file& f : files) {
        if (f.contents.isNull()) {
            if (sqlca->execute(
                    QStringLiteral(
                        "insert into t_file (filename, ver, filedata) values (?, ?, null)"),
                    {f.name, f.ver}) < 0)
                return false;
            continue;
        }
        auto writer = sqlca->insert_blob(
            QStringLiteral("t_file"), {QStringLiteral("filename"), QStringLiteral("ver")},
            {f.name, f.ver}, QStringLiteral("filedata"), f.contents.size());
        if (!writer) {
            qWarning("cannot store %s: %s", qPrintable(f.name), qPrintable(sqlca->sqlerrtext));
            return false;
        }
        const auto bytes = std::as_bytes(std::span(f.contents.constData(), f.contents.size()));
        if ((!bytes.empty() && writer->write(bytes) < 0) || writer->finish() < 0)
            return false;
    }
    return sqlca->commit() >= 0;
}

} // namespace qorv::test
