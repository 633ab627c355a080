// The updater's statements against real servers: what they leave open on the server, and what
// happens when the server stops answering.

#include "random_bytes.h"
#include "recording_view.h"
#include "tcp_proxy.h"
#include "texts.h"
#include "update_job.h"
#include "update_server.h"
#include "update_server_fixture.h"

#include <rt/value/decimal.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QUrl>

using namespace qorv;
using namespace qorv::test;

namespace {

// One statement of the updater, run to its end as the procedure runs it.
void run_step(update_server& server, const QString& step)
{
    if (step == QLatin1String("newest version")) {
        server.newest_version(rt::decimal());
    } else if (step == QLatin1String("file count")) {
        server.file_count(QStringLiteral("2.0"));
    } else if (step == QLatin1String("file names")) {
        rt::cursor names = server.file_names(QStringLiteral("2.0"));
        while (names.fetch()) {
        }
    } else {
        auto contents = server.contents(QStringLiteral("a.dll"), QStringLiteral("2.0"));
        QVERIFY(contents);
        std::vector<std::byte> buffer(4096);
        while (contents->read(buffer) > 0) {
        }
    }
}

} // namespace

class update_server_test : public QObject {
    Q_OBJECT

private slots:
    void nothing_stays_open_between_statements_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("step");
        for (const char* backend : {"sqlite", "postgresql"})
            for (const char* step : {"newest version", "file count", "file names", "contents"})
                QTest::addRow("%s: %s", backend, step)
                    << QString::fromLatin1(backend) << QString::fromLatin1(step);
    }

    // While the window waits, an administrator publishes: nothing of the updater may stand in
    // the way (SQLite's lock), and no session may sit idle inside a transaction (PostgreSQL).
    void nothing_stays_open_between_statements()
    {
        QFETCH(QString, backend);
        QFETCH(QString, step);
        update_server_fixture server(backend);
        NEED(server);
        QVERIFY(server.add({{QStringLiteral("a.dll"), QStringLiteral("2.0"), "contents"}}));
        auto sqlca = server.connect();
        QVERIFY(sqlca);
        update_server statements(*sqlca);
        run_step(statements, step);
        QVERIFY2(sqlca->sqlcode >= 0, qPrintable(sqlca->sqlerrtext));

        QVERIFY(server.add({{QStringLiteral("b.dll"), QStringLiteral("3.0"), "published"}}));
        if (backend == QLatin1String("postgresql")) {
            auto admin = server.connect();
            const auto idle = admin->select_value(
                QStringLiteral("select count(*) from pg_stat_activity where datname = "
                               "current_database() and state like 'idle in transaction%'"));
            QCOMPARE(idle.value_or(QStringLiteral("?")), QStringLiteral("0"));
        }
        // The updater sees what was published since.
        QCOMPARE(statements.newest_version(rt::decimal::from_text(QStringLiteral("2.0")).value())
                     .value_or(rt::decimal())
                     .to_text(),
                 rt::decimal::from_text(QStringLiteral("3.0"))->to_text());
    }

    void a_server_that_stops_answering_ends_in_a_database_error_data()
    {
        QTest::addColumn<qint64>("stall_after"); // bytes from the server once the update starts
        QTest::newRow("before the file count") << qint64(0);
        QTest::newRow("in the middle of a file") << qint64(2 * 1024 * 1024);
    }

    void a_server_that_stops_answering_ends_in_a_database_error()
    {
        QFETCH(qint64, stall_after);
        update_server_fixture server(QStringLiteral("postgresql"));
        NEED(server);
        QVERIFY(server.add(
            {{QStringLiteral("a.dll"), QStringLiteral("2.0"), random_bytes(6 * 1024 * 1024, 1)},
             {QStringLiteral("b.dll"), QStringLiteral("2.0"), "b"}}));
        tcp_proxy proxy(QUrl(server.servername()).port());
        rt::transaction sqlca;
        sqlca.servername = QStringLiteral("postgresql://127.0.0.1:%1").arg(proxy.port());
        sqlca.logid = server.user();
        sqlca.logpass = server.password();
        sqlca.dbparm =
            QStringLiteral("timeout = 5,Database='%1',StatementTimeout=2").arg(server.database());
        QVERIFY2(sqlca.connect() == 0, qPrintable(sqlca.sqlerrtext));
        update_server statements(sqlca);
        QVERIFY(statements.newest_version(rt::decimal()).has_value());

        proxy.stall_after(stall_after);
        recording_view view;
        message_log log;
        QCOMPARE(run_update(statements, QStringLiteral("2.0"), server.install_dir(),
                            server.ini_file(), view),
                 job_result::failed);
        QCOMPARE(log.messages.size(), 1);
        QCOMPARE(log.messages[0].title, texts::title_database_error);
        QVERIFY2(log.messages[0].text.contains(QStringLiteral("2 s")),
                 qPrintable(log.messages[0].text));
        QCOMPARE(QDir(server.install_dir()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void published_hashes_verify_and_spare_downloads_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QByteArray>("installed"); // b.dll before the update
        QTest::addColumn<bool>("wrong_hash");      // the hash published for b.dll is not its own
        QTest::addColumn<bool>("downloaded");      // b.dll is read from the server
        const QByteArray contents = random_bytes(100000, 3);
        QByteArray same_size = contents;
        same_size[50000] = char(~same_size[50000]);
        for (const char* backend : {"sqlite", "postgresql", "pgbouncer"}) {
            const auto row = [&](const char* name) -> QTestData& {
                return QTest::addRow("%s: %s", backend, name) << QString::fromLatin1(backend);
            };
            row("installed copy matches") << contents << false << false;
            row("same size, other bytes") << same_size << false << true;
            row("not installed") << QByteArray() << false << true;
            row("download differs from its hash") << QByteArray() << true << true;
        }
    }

    void published_hashes_verify_and_spare_downloads()
    {
        QFETCH(QString, backend);
        QFETCH(QByteArray, installed);
        QFETCH(bool, wrong_hash);
        QFETCH(bool, downloaded);
        update_server_fixture server(backend);
        NEED(server);
        const QByteArray a = random_bytes(70000, 2), b = random_bytes(100000, 3);
        QVERIFY(server.add({{QStringLiteral("a.dll"), QStringLiteral("2.0"), a},
                            {QStringLiteral("b.dll"), QStringLiteral("2.0"), b}}));
        auto sqlca = server.connect();
        QVERIFY(sqlca);
        QCOMPARE(sqlca->execute(QStringLiteral("alter table t_file add column filehash char(64)")),
                 0L);
        for (const auto& [name, bytes] : {std::pair{"a.dll", a}, {"b.dll", b}}) {
            QByteArray hash = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
            if (wrong_hash && name == QLatin1String("b.dll"))
                hash = QCryptographicHash::hash("other", QCryptographicHash::Sha256).toHex();
            QCOMPARE(
                sqlca->execute(QStringLiteral("update t_file set filehash = ? where filename = ?"),
                               {QString::fromLatin1(hash.toUpper()), QString::fromLatin1(name)}),
                0L);
        }
        QCOMPARE(sqlca->commit(), 0L);
        const QDir install(server.install_dir());
        if (!installed.isNull()) {
            QFile f(install.filePath(QStringLiteral("b.dll")));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(installed) == installed.size());
        }

        update_server statements(*sqlca);
        recording_view view;
        message_log log;
        const job_result result =
            run_update(statements, QStringLiteral("2.0"), install.path(), server.ini_file(), view);
        const auto chunks = [](qsizetype size) { return (size + chunk_size - 1) / chunk_size; };
        // One yield per file and one per chunk downloaded.
        QCOMPARE(view.yields, 2 + chunks(a.size()) + (downloaded ? chunks(b.size()) : 0));
        QCOMPARE(view.files_lines.size(), 2);
        if (wrong_hash) {
            QCOMPARE(result, job_result::failed);
            QCOMPARE(log.messages.size(), 1);
            QCOMPARE(log.messages[0].text, texts::download_failed);
            QVERIFY(!QFile::exists(install.filePath(QStringLiteral("a.dll"))));
            return;
        }
        QCOMPARE(result, job_result::updated);
        for (const auto& [name, bytes] : {std::pair{"a.dll", a}, {"b.dll", b}}) {
            QFile f(install.filePath(QString::fromLatin1(name)));
            QVERIFY(f.open(QIODevice::ReadOnly));
            QVERIFY2(f.readAll() == bytes, name);
        }
    }
};

QTEST_GUILESS_MAIN(update_server_test)
#include "update_server_test.moc"
