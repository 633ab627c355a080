// Signed releases: what a client holding the publisher key refuses, against real update servers
// (SQLite, and the suite's PostgreSQL with large objects and through ODBC with bytea), set up
// and signed with qorv_admin's own commands.

#include "admin_call.h"
#include "pg_server.h"
#include "random_bytes.h"
#include "recording_view.h"
#include "release_check.h"
#include "test_files.h"
#include "texts.h"
#include "update_job.h"
#include "update_server.h"
#include "update_server_fixture.h"

#include <rt/value/decimal.h>
#include <rt/value/format_version.h>
#include <rt/value/profile.h>

#include <QCryptographicHash>
#include <QDirIterator>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace qorv;
using namespace qorv::test;

namespace {

QStringList connection(const update_server_fixture& s)
{
    return {"--server", s.servername(), "--database", s.database(),
            "--user",   s.user(),       "--password", s.password()};
}

/// The files of version 2.0 as published.
const QMap<QString, QByteArray> release_files{
    {"a.dll", random_bytes(100000, 1)},
    {"lib/b.dll", random_bytes(5000, 2)},
    {"说明.txt", "版本 2.0\n"},
};

} // namespace

class signed_release_test : public QObject {
    Q_OBJECT

    QTemporaryDir keys_;
    QString trusted_, other_; // public keys as keygen printed them

    QString key_file(const char* who) const
    {
        return keys_.filePath(QLatin1String(who) + QStringLiteral("/qorv-release.key"));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(keys_.isValid());
        for (auto [who, key] : {std::pair{"trusted", &trusted_}, std::pair{"other", &other_}}) {
            QVERIFY(QDir(keys_.path()).mkdir(QLatin1String(who)));
            const process_result r = run_admin({"keygen", keys_.filePath(QLatin1String(who))});
            QVERIFY2(r.status == 0, qPrintable(r.err));
            *key = r.out.trimmed();
        }
    }

    void manifest_text_is_canonical_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("valid");
        const QByteArray hash(64, 'a');
        const QByteArray head = "qorv release manifest 1\nversion 2.5\n";
        QTest::newRow("two files")
            << head + "files 2\n5 " + hash + " a b.txt\n0 " + hash + " 考务/说明.txt\n"
            << true;
        QTest::newRow("no files") << head + "files 0\n" << true;
        QTest::newRow("no final line feed") << head + "files 1\n5 " + hash + " a" << false;
        QTest::newRow("count too high") << head + "files 2\n5 " + hash + " a\n" << false;
        QTest::newRow("a line more") << head + "files 1\n5 " + hash + " a\n\n" << false;
        QTest::newRow("size with a leading zero") << head + "files 1\n05 " + hash + " a\n" << false;
        QTest::newRow("upper-case hash") << head + "files 1\n5 " + hash.toUpper() + " a\n" << false;
        QTest::newRow("short hash") << head + "files 1\n5 " + hash.left(63) + " a\n" << false;
        QTest::newRow("empty name") << head + "files 1\n5 " + hash + " \n" << false;
        QTest::newRow("carriage return in a name") << head + "files 1\n5 " + hash + " a\r\n"
                                                   << false;
        QTest::newRow("name not UTF-8") << head + "files 1\n5 " + hash + " \xff\n" << false;
        QTest::newRow("version not a number")
            << QByteArray("qorv release manifest 1\nversion 2,5\nfiles 0\n") << false;
        QTest::newRow("another form")
            << QByteArray("qorv release manifest 2\nversion 2.5\nfiles 0\n") << false;
    }

    void manifest_text_is_canonical()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, valid);
        QString why;
        const auto m = release::manifest::parse(text, &why);
        QCOMPARE(m.has_value(), valid);
        if (m)
            QCOMPARE(m->text(), text);
        else
            QVERIFY(!why.isEmpty());
    }

    void served_names_must_be_the_signed_ones_in_order_data()
    {
        QTest::addColumn<QStringList>("served");
        QTest::addColumn<QString>("problem"); // in the message; empty: none
        QTest::newRow("the same") << QStringList{"a", "b", "c"} << QString();
        QTest::newRow("one added") << QStringList{"a", "b", "c", "d"} << "文件 d 不在";
        QTest::newRow("one missing") << QStringList{"a", "c"} << "文件 b 不在服务器上";
        QTest::newRow("one replaced") << QStringList{"a", "b", "x"} << "文件 x 不在";
        QTest::newRow("reordered") << QStringList{"a", "c", "b"} << "顺序";
        QTest::newRow("none served") << QStringList{} << "文件 a 不在服务器上";
    }

    void served_names_must_be_the_signed_ones_in_order()
    {
        QFETCH(QStringList, served);
        QFETCH(QString, problem);
        release::manifest m{"2.0", {}};
        for (const char* name : {"a", "b", "c"})
            m.files.push_back({QLatin1String(name), 1, QString(64, u'0')});
        const QString found = release_check::names_problem(m, served);
        QVERIFY2(problem.isEmpty() ? found.isEmpty() : found.contains(problem), qPrintable(found));
    }

    void a_key_built_in_wins_data()
    {
        QTest::addColumn<QString>("built_in");
        QTest::addColumn<QString>("ini");
        QTest::addColumn<QString>("expected"); // "trusted", "other", "none", "unusable"
        QTest::newRow("none") << QString() << QString() << "none";
        QTest::newRow("qorv.ini") << QString() << "trusted"
                                  << "trusted";
        QTest::newRow("qorv.ini with blanks") << QString() << " trusted "
                                              << "trusted";
        QTest::newRow("built in") << "other" << QString() << "other";
        QTest::newRow("built in over qorv.ini") << "other"
                                                << "trusted"
                                                << "other";
        QTest::newRow("garbage in qorv.ini") << QString() << "MCowBQYDK2VwAyEA"
                                             << "unusable";
        QTest::newRow("a key cut short") << QString() << "trusted-cut"
                                         << "unusable";
    }

    void a_key_built_in_wins()
    {
        QFETCH(QString, built_in);
        QFETCH(QString, ini);
        QFETCH(QString, expected);
        const auto key_text = [this](QString text) {
            return text.replace(QLatin1String("trusted-cut"), trusted_.left(59))
                .replace(QLatin1String("trusted"), trusted_)
                .replace(QLatin1String("other"), other_);
        };
        const trusted_key key = trusted_key_of(key_text(built_in), key_text(ini));
        QCOMPARE(key.configured(), expected != QLatin1String("none"));
        QCOMPARE(key.key.has_value(), expected == "trusted" || expected == "other");
        if (key.key)
            QCOMPARE(key.key->text(), key_text(expected));
    }

    void attacks_are_refused_before_anything_is_installed_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("attack");
        QTest::addColumn<bool>("with_key");
        QTest::addColumn<QString>("refusal"); // in the message; empty: the update succeeds
        const auto rows = [](const char* attack, bool with_key, const QString& refusal) {
            for (const char* backend : {"sqlite", "postgresql", "odbc"})
                QTest::addRow("%s: %s%s", backend, attack, with_key ? "" : ", no key")
                    << QString::fromLatin1(backend) << QString::fromLatin1(attack) << with_key
                    << refusal;
        };
        rows("signed release", true, {});
        // Through PgBouncer in transaction pooling mode, as examination centres scale out.
        QTest::addRow("pgbouncer: signed release")
            << QStringLiteral("pgbouncer") << QStringLiteral("signed release") << true << QString();
        rows("bytes changed with their hash", true, "文件 a.dll 的内容与签名清单不符");
        rows("file row added", true, "服务器上的文件 c.dll 不在版本 2.0 的签名清单中");
        rows("file row deleted", true, "签名清单中的文件 lib/b.dll 不在服务器上");
        rows("new version without a record", true, "服务器上没有版本 3.0 的发布者签名");
        rows("signed by another key", true, "由密钥");
        rows("older record copied to a newer version", true, "签名记录属于版本 2.0");
        rows("manifest edited after signing", true, "发布者签名无效");
        rows("server without t_release", true, "服务器上没有版本 2.0 的发布者签名");
        // Without a key nothing is checked, as before signatures existed.
        rows("bytes changed with their hash", false, {});
        rows("server without t_release", false, {});
    }

    void attacks_are_refused_before_anything_is_installed()
    {
        QFETCH(QString, backend);
        QFETCH(QString, attack);
        QFETCH(bool, with_key);
        QFETCH(QString, refusal);

        update_server_fixture server(backend);
        if (!server.valid() && backend != QLatin1String("sqlite") && !postgresql_available())
            QSKIP("the suite's PostgreSQL server is not running");
        QVERIFY2(server.valid(), qPrintable(server.error()));
        const bool old_server = attack == QLatin1String("server without t_release");
        if (!old_server) {
            const process_result up = run_admin(QStringList{"upgrade-table"} + connection(server));
            QVERIFY2(up.status == 0, qPrintable(up.err));
        }

        // Version 2.0, published (and signed where the server can hold a signature).
        QTemporaryDir release;
        for (auto it = release_files.begin(); it != release_files.end(); ++it)
            QVERIFY(write_file(release.filePath(it.key()), it.value()));
        QStringList publish{"publish", "--ver", "2", "--base", release.path(), release.path()};
        if (!old_server)
            publish << "--sign" << key_file("trusted");
        const process_result published = run_admin(publish + connection(server));
        QVERIFY2(published.status == 0, qPrintable(published.err));

        // What an attacker with the database login does.
        auto t = server.connect();
        QVERIFY(t);
        QCOMPARE(t->commit(), 0L); // no read lock held while other connections write
        const QByteArray evil = random_bytes(100000, 99);
        const QString evil_hash =
            QString::fromLatin1(QCryptographicHash::hash(evil, QCryptographicHash::Sha256).toHex());
        const auto replace_a = [&] {
            QCOMPARE(t->execute("delete from t_file where filename = 'a.dll' and ver = 2"), 0L);
            QCOMPARE(t->commit(), 0L);
            QVERIFY(server.add({{"a.dll", "2.0", evil}}));
            QCOMPARE(
                t->execute("update t_file set filehash = ? where filename = 'a.dll'", {evil_hash}),
                0L);
        };
        if (attack == QLatin1String("bytes changed with their hash")) {
            replace_a();
        } else if (attack == QLatin1String("file row added")) {
            QVERIFY(server.add({{"c.dll", "2.0", evil}}));
        } else if (attack == QLatin1String("file row deleted")) {
            QCOMPARE(t->execute("delete from t_file where filename = 'lib/b.dll'"), 0L);
        } else if (attack == QLatin1String("new version without a record")) {
            QVERIFY(server.add({{"a.dll", "3.0", evil}}));
        } else if (attack == QLatin1String("signed by another key")) {
            QVERIFY(write_file(release.filePath("a.dll"), evil));
            const process_result r =
                run_admin(QStringList{"publish", "--ver", "3", "--base", release.path(),
                                      release.path(), "--sign", key_file("other")} +
                          connection(server));
            QVERIFY2(r.status == 0, qPrintable(r.err));
        } else if (attack == QLatin1String("older record copied to a newer version")) {
            QVERIFY(server.add({{"a.dll", "3.0", evil},
                                {"lib/b.dll", "3.0", release_files["lib/b.dll"]},
                                {"说明.txt", "3.0", release_files["说明.txt"]}}));
            QCOMPARE(t->execute("insert into t_release (ver, manifest, signature, signer) select "
                                "3, manifest, signature, signer from t_release where ver = 2"),
                     0L);
        } else if (attack == QLatin1String("manifest edited after signing")) {
            replace_a();
            const QString old_hash = QString::fromLatin1(
                QCryptographicHash::hash(release_files["a.dll"], QCryptographicHash::Sha256)
                    .toHex());
            QCOMPARE(t->execute("update t_release set manifest = replace(manifest, ?, ?)",
                                {old_hash, evil_hash}),
                     0L);
        }
        QCOMPARE(t->commit(), 0L);
        t.reset();

        // An installation of version 1.0, with or without the key.
        QDir install(server.install_dir());
        QVERIFY(write_file(install.filePath("a.dll"), "installed 1.0"));
        QVERIFY(install.mkpath("lib"));
        QVERIFY(write_file(server.ini_file(), "[qorv]\r\nver=\"1.0\"\r\n"));
        if (with_key)
            QCOMPARE(rt::set_profile_string(server.ini_file(), "qorv", "pubkey", trusted_), 1);
        const auto before = tree_contents(install.path());

        auto sqlca = server.connect();
        QVERIFY(sqlca);
        update_server statements(*sqlca);
        const auto newest = statements.newest_version(rt::decimal(1));
        QVERIFY(newest);
        recording_view view;
        message_log log;
        const job_result result = run_update(statements, rt::format_version(*newest),
                                             install.path(), server.ini_file(), view);
        QVERIFY(!log.messages.isEmpty());
        if (refusal.isEmpty()) {
            QCOMPARE(result, job_result::updated);
            QCOMPARE(log.messages.last().text, texts::update_succeeded);
            auto expected = release_files;
            if (attack == QLatin1String("bytes changed with their hash"))
                expected["a.dll"] = evil; // taken unchecked, as without signatures
            for (auto it = expected.begin(); it != expected.end(); ++it)
                QVERIFY2(tree_contents(install.path()).value(it.key()) == it.value(),
                         qPrintable(it.key()));
            QCOMPARE(rt::profile_string(server.ini_file(), "qorv", "ver"), QStringLiteral("2.0"));
        } else {
            QCOMPARE(result, job_result::failed);
            QCOMPARE(log.messages.last().title, texts::title_error);
            QVERIFY2(log.messages.last().text.contains(refusal) &&
                         log.messages.last().text.endsWith(QStringLiteral("更新失败！")),
                     qPrintable(log.messages.last().text));
            // Byte for byte as before, and nothing left behind.
            QCOMPARE(tree_contents(install.path()), before);
        }
    }

    // PostgreSQL: a login made by init --reader installs signed releases and cannot publish.
    void the_read_only_login_installs_and_cannot_write()
    {
        const QString reader =
            QStringLiteral("qorv_reader_%1").arg(QRandomGenerator::global()->generate(), 0, 36);
        const QString password = QStringLiteral("读者 pw'1");
        {
            update_server_fixture server(QStringLiteral("postgresql"));
            if (!server.valid() && !postgresql_available())
                QSKIP("the suite's PostgreSQL server is not running");
            QVERIFY2(server.valid(), qPrintable(server.error()));
            auto owner = server.connect();
            QVERIFY(owner);
            if (owner->select_value("select rolcreaterole or rolsuper from pg_roles where rolname "
                                    "= current_user") != QStringLiteral("t"))
                QSKIP("the test login may not create roles");
            QCOMPARE(owner->commit(), 0L);
            // A server set up before: a version published, then the login added.
            QVERIFY(server.add({{"old.dll", "1.5", "published before the login"}}));

            const process_result init =
                run_admin(QStringList{"init", "--reader", reader, "--reader-password", password} +
                          connection(server));
            QVERIFY2(init.status == 0, qPrintable(init.err));
            QTemporaryDir release;
            for (auto it = release_files.begin(); it != release_files.end(); ++it)
                QVERIFY(write_file(release.filePath(it.key()), it.value()));
            const process_result published =
                run_admin(QStringList{"publish", "--ver", "2", "--base", release.path(),
                                      release.path(), "--sign", key_file("trusted")} +
                          connection(server));
            QVERIFY2(published.status == 0, qPrintable(published.err));

            rt::transaction client;
            client.servername = server.servername();
            client.logid = reader;
            client.logpass = password;
            client.dbparm = QStringLiteral("Database='%1'").arg(server.database());
            QVERIFY2(client.connect() == 0, qPrintable(client.sqlerrtext));
            QDir install(server.install_dir());
            QVERIFY(install.mkpath("lib"));
            QVERIFY(
                write_file(server.ini_file(), "[qorv]\nver=1.0\npubkey=" + trusted_.toLatin1()));
            update_server statements(client);
            recording_view view;
            message_log log;
            QCOMPARE(run_update(statements, QStringLiteral("2.0"), install.path(),
                                server.ini_file(), view),
                     job_result::updated);
            QCOMPARE(tree_contents(install.path()).value("lib/b.dll"), release_files["lib/b.dll"]);
            QCOMPARE(client.select_value("select length(lo_get(filedata)) from t_file where ver "
                                         "= 1.5"),
                     QStringLiteral("26"));
            client.rollback();

            for (const char* statement :
                 {"insert into t_file (filename, ver) values ('x.dll', 9)",
                  "update t_file set filehash = null", "delete from t_file",
                  "update t_release set signer = 'x'", "delete from t_release",
                  "select lo_put(filedata, 0, '\\x00') from t_file",
                  "select lo_unlink(filedata) from t_file", "drop table t_release"}) {
                QVERIFY2(client.execute(QString::fromLatin1(statement)) < 0, statement);
                client.rollback();
            }
            client.disconnect();
            const process_result refused = run_admin(
                QStringList{"publish", "--ver", "3", "--base", release.path(), release.path(),
                            "--user", reader, "--password", password, "--server",
                            server.servername(), "--database", server.database()});
            QCOMPARE(refused.status, 2);
        }
        // The role goes once the database holding its grants is gone.
        const auto pg = find_pg_server();
        QVERIFY(pg);
        rt::transaction admin;
        admin.servername = pg->server;
        admin.logid = pg->user;
        admin.logpass = pg->password;
        admin.autocommit = true;
        admin.dbparm = QStringLiteral("Database='%1'").arg(pg->database);
        QCOMPARE(admin.connect(), 0L);
        QCOMPARE(admin.execute(QStringLiteral("drop role %1").arg(reader)), 0L);
    }
};

QTEST_GUILESS_MAIN(signed_release_test)
#include "signed_release_test.moc"
