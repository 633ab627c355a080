// qorv_update as a program: its modes without a window, exit statuses, the single instance and
// the binding of liblmget by name.

#include "connection.h"
#include "texts.h"
#include "update_server_fixture.h"

#include <lmget_cipher.h>
#include <rt/profile.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace qorv;
using namespace qorv::test;

namespace {

const QString program = QStringLiteral(QORV_UPDATE_PATH);

struct run_result {
    int status = -1;
    QString out, err;
};

/// The environment of every run: its own runtime directory, so that the instance lock of one
/// test run does not meet another's.
QProcessEnvironment environment(const QString& tmp)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), tmp);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), tmp);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}

run_result run(const QString& dir, const QStringList& args, const QString& tmp,
               const QString& exe = program)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.setProcessEnvironment(environment(tmp));
    p.start(exe, args);
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

QString encrypted(const QString& clear)
{
    return QString::fromStdString(lmget::encrypt(sys_mm, clear.toStdString()));
}

/// Writes qorv.ini of the fixture's installation with its server's settings.
bool write_ini(const update_server_fixture& server, const QString& ver,
               const QString& servername = {})
{
    const QString ini = server.ini_file();
    const QString s = QStringLiteral("qorv");
    return rt::set_profile_string(
               ini, s, "servername",
               encrypted(servername.isEmpty() ? server.servername() : servername)) == 1 &&
           rt::set_profile_string(ini, s, "database", encrypted(server.database())) == 1 &&
           rt::set_profile_string(ini, s, "user", encrypted(server.user())) == 1 &&
           rt::set_profile_string(ini, s, "password", encrypted(server.password())) == 1 &&
           (ver.isNull() ||
            rt::set_profile_string(ini, s, "ver", QLatin1Char('"') + ver + QLatin1Char('"')) == 1);
}

QByteArray read(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class command_line_test : public QObject {
    Q_OBJECT

    QTemporaryDir tmp_;

private slots:
    void help_explains_the_modes_and_exit_statuses()
    {
        const run_result r = run(QDir::currentPath(), {QStringLiteral("--help")}, tmp_.path());
        QCOMPARE(r.status, 0);
        for (const char* word : {"--check", "--update", "Exit status", "qorv.ini"})
            QVERIFY2(r.out.contains(QLatin1String(word)), word);
        QCOMPARE(run(QDir::currentPath(), {QStringLiteral("--bogus")}, tmp_.path()).status, 1);
        QCOMPARE(run(QDir::currentPath(), {"--check", "--update"}, tmp_.path()).status, 1);
    }

    void check_prints_both_versions_data()
    {
        QTest::addColumn<QString>("ver"); // null: no key
        QTest::addColumn<QString>("expected");
        QTest::newRow("older") << "1.0" << QStringLiteral("我的版本：1.0\n最新的版本：1.3\n");
        QTest::newRow("up to date") << "1.3" << QStringLiteral("我的版本：1.3\n最新的版本：0.0\n");
        QTest::newRow("no version recorded")
            << QString() << QStringLiteral("我的版本：\n最新的版本：1.3\n");
        QTest::newRow("not a number")
            << "abc" << QStringLiteral("我的版本：abc\n最新的版本：1.3\n");
    }

    void check_prints_both_versions()
    {
        QFETCH(QString, ver);
        QFETCH(QString, expected);
        update_server_fixture server(QStringLiteral("sqlite"));
        QVERIFY(server.add({{"a.dll", "1.3", "new"}, {"a.dll", "1.0", "old"}}));
        QVERIFY(write_ini(server, ver));
        const QByteArray ini = read(server.ini_file());
        const run_result r = run(server.install_dir(), {QStringLiteral("--check")}, tmp_.path());
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, expected);
        QCOMPARE(read(server.ini_file()), ini);
        QVERIFY(!QFile::exists(QDir(server.install_dir()).filePath(QStringLiteral("a.dll"))));
    }

    void update_installs_the_newest_version()
    {
        update_server_fixture server(QStringLiteral("sqlite"));
        QVERIFY(server.add({{"a.dll", "1.3", QByteArray(100000, 'a')},
                            {"doc/b.txt", "1.3", "b"},
                            {"a.dll", "1.0", "old"}}));
        QDir(server.install_dir()).mkpath(QStringLiteral("doc"));
        QVERIFY(write_ini(server, QStringLiteral("1.0")));
        run_result r = run(server.install_dir(), {QStringLiteral("--update")}, tmp_.path());
        QCOMPARE(r.status, 0);
        QVERIFY2(
            r.out.contains(texts::title_notice + QStringLiteral(": ") + texts::update_succeeded),
            qPrintable(r.out));
        QCOMPARE(read(QDir(server.install_dir()).filePath(QStringLiteral("a.dll"))),
                 QByteArray(100000, 'a'));
        QCOMPARE(read(QDir(server.install_dir()).filePath(QStringLiteral("doc/b.txt"))),
                 QByteArray("b"));
        QCOMPARE(rt::profile_string(server.ini_file(), "qorv", "ver"), QStringLiteral("1.3"));
        // Progress went to standard error, one line per file without a terminal.
        QVERIFY2(r.err.contains(texts::files_line(2, 2)), qPrintable(r.err));

        // Run again: nothing newer, nothing to do.
        r = run(server.install_dir(), {QStringLiteral("--update")}, tmp_.path());
        QCOMPARE(r.status, 0);
        QVERIFY(r.out.contains(QStringLiteral("最新的版本：0.0")));
    }

    void a_failed_update_exits_non_zero_and_changes_nothing()
    {
        update_server_fixture server(QStringLiteral("sqlite"));
        QVERIFY(
            server.add({{"a.dll", "2", QByteArray(100000, 'a')}, {"b.dll", "2", QByteArray("")}}));
        QVERIFY(write_ini(server, QStringLiteral("1")));
        const QByteArray ini = read(server.ini_file());
        const run_result r = run(server.install_dir(), {QStringLiteral("--update")}, tmp_.path());
        QCOMPARE(r.status, 3);
        QVERIFY2(r.err.contains(texts::title_error + QStringLiteral(": ") + texts::download_failed),
                 qPrintable(r.err));
        QCOMPARE(read(server.ini_file()), ini);
        QCOMPARE(QDir(server.install_dir()).entryList(QDir::Files | QDir::Hidden),
                 QStringList({"qorv.ini"}));
    }

    void an_unreachable_server_is_a_failed_connection_data()
    {
        QTest::addColumn<QString>("ini"); // "none": no qorv.ini; "garbage": undecryptable values
        QTest::addColumn<QString>("servername");
        QTest::newRow("no qorv.ini") << "none" << QString();
        QTest::newRow("values that do not decrypt") << "garbage" << QString();
        QTest::newRow("missing database file") << "valid"
                                               << "sqlite:nowhere/server.db";
        // Nothing listens on port 1: the SQL Server client gives up within its 5 s time-out.
        QTest::newRow("SQL Server not listening") << "valid"
                                                  << "127.0.0.1,1";
        QTest::newRow("PostgreSQL not listening") << "valid"
                                                  << "postgresql://127.0.0.1:1";
        // A server that accepts the connection and never answers: the login time-out ends it.
        QTest::newRow("SQL Server never answering") << "silent" << QString();
        QTest::newRow("PostgreSQL never answering") << "silent-pg" << QString();
    }

    void an_unreachable_server_is_a_failed_connection()
    {
        QFETCH(QString, ini);
        QFETCH(QString, servername);
        update_server_fixture server(QStringLiteral("sqlite"));
        QTcpServer silent; // the kernel completes the handshake; nobody ever reads or writes
        if (ini.startsWith(QLatin1String("silent"))) {
            QVERIFY(silent.listen(QHostAddress::LocalHost));
            servername = ini == QLatin1String("silent")
                             ? QStringLiteral("127.0.0.1,%1").arg(silent.serverPort())
                             : QStringLiteral("postgresql://127.0.0.1:%1").arg(silent.serverPort());
            ini = QStringLiteral("valid");
        }
        if (ini == QLatin1String("valid"))
            QVERIFY(write_ini(server, QStringLiteral("1"), servername));
        if (ini == QLatin1String("garbage"))
            for (const char* key : {"servername", "database", "user", "password"})
                QVERIFY(rt::set_profile_string(server.ini_file(), "qorv", key, "garbage!") == 1);
        QElapsedTimer clock;
        clock.start();
        const run_result r = run(server.install_dir(), {QStringLiteral("--check")}, tmp_.path());
        QCOMPARE(r.status, 2);
        QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
        const QString message =
            texts::connect_failed(QStringLiteral(QORV_ADMIN_PHONE)).replace(QChar(13), QChar(10));
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QVERIFY(r.err.contains(QLatin1String("cannot connect")));
    }

    void without_liblmget_the_connection_fails_with_the_reason()
    {
        update_server_fixture server(QStringLiteral("sqlite"));
        QVERIFY(write_ini(server, QStringLiteral("1")));
        QTemporaryDir alone;
        const QString copy = QDir(alone.path()).filePath(QStringLiteral("qorv_update"));
        QVERIFY(QFile::copy(program, copy));
        const run_result r =
            run(server.install_dir(), {QStringLiteral("--check")}, tmp_.path(), copy);
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains(QLatin1String("lmget")), qPrintable(r.err));
    }

    void a_second_instance_is_refused_and_a_stale_lock_ignored()
    {
        update_server_fixture server(QStringLiteral("sqlite"));
        QVERIFY(server.add({{"a.dll", "2", "a"}}));
        QVERIFY(write_ini(server, QStringLiteral("1")));
        QTemporaryDir tmp;

        // The first instance keeps its window open.
        QProcess first;
        first.setWorkingDirectory(server.install_dir());
        first.setProcessEnvironment(environment(tmp.path()));
        first.start(program, {});
        QVERIFY(first.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(
            !QDir(tmp.path()).entryList({"qorv_update.lock"}, QDir::Files).isEmpty(), 20000);

        run_result r = run(server.install_dir(), {QStringLiteral("--check")}, tmp.path());
        QCOMPARE(r.status, 4);
        QVERIFY(
            r.err.contains(texts::title_attention + QStringLiteral(": ") + texts::already_running));
        QCOMPARE(first.state(), QProcess::Running);

        // Killed without a chance to clean up: its lock is recognised as stale.
        ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
        QVERIFY(first.waitForFinished());
        QVERIFY(!QDir(tmp.path()).entryList({"qorv_update.lock"}, QDir::Files).isEmpty());
        r = run(server.install_dir(), {QStringLiteral("--check")}, tmp.path());
        QCOMPARE(r.status, 0);
    }
};

QTEST_GUILESS_MAIN(command_line_test)
#include "command_line_test.moc"
