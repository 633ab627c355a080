// qorv_update as a program: its modes without a window, exit statuses, the single instance and
// the binding of liblmget by name.

#include "command.h"
#include "connection.h"
#include "random_bytes.h"
#include "tcp_proxy.h"
#include "test_files.h"
#include "test_process.h"
#include "texts.h"
#include "update_server_fixture.h"

#include <lmget_cipher.h>
#include <rt/value/profile.h>

#include <QElapsedTimer>
#include <QHash>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <QRegularExpression>

#include <csignal>

#include <unistd.h>

using namespace qorv;
using namespace qorv::test;

namespace {

const QString program = QStringLiteral(QORV_UPDATE_PATH);
const QString hooked = QStringLiteral(QORV_UPDATE_HOOKED_PATH);

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

/// environment(tmp) with the variables of `extra` set, or removed where their value is
/// "<unset>".
QProcessEnvironment environment(const QString& tmp, const QProcessEnvironment& extra)
{
    QProcessEnvironment env = environment(tmp);
    for (const QString& name : extra.keys()) {
        if (extra.value(name) == QLatin1String("<unset>"))
            env.remove(name);
        else
            env.insert(name, extra.value(name));
    }
    return env;
}

process_result run(const QString& dir, const QStringList& args, const QString& tmp,
                   const QString& exe = program, const QProcessEnvironment& extra = {})
{
    return run_process(exe, args, dir, environment(tmp, extra));
}

/// The hooked updater, stopped at step `at` of an install ("17" or "17:term").
process_result run_stopped_at(const QString& dir, const QStringList& args, const QString& tmp,
                              const QString& at)
{
    QProcessEnvironment extra;
    extra.insert(QStringLiteral("QORV_TEST_STOP_AT"), at);
    return run(dir, args, tmp, hooked, extra);
}

/// Every file below `dir`, hidden ones included, with its contents; qorv.ini as its version.
QMap<QString, QByteArray> installed(const QString& dir)
{
    QMap<QString, QByteArray> files = tree_contents(dir);
    for (auto it = files.begin(); it != files.end(); ++it)
        if (it.key().endsWith(QLatin1String("qorv.ini")))
            *it = rt::profile_string(QDir(dir).filePath(it.key()), "qorv", "ver").toUtf8();
    return files;
}

/// The stored form of a setting. Each text is encrypted once: every encryption derives a key,
/// which under the sanitizers takes tens of milliseconds, and a stored value decrypts the same
/// however often it is written.
QString encrypted(const QString& clear)
{
    static QHash<QString, QString> stored;
    auto it = stored.constFind(clear);
    if (it == stored.cend())
        it = stored.insert(clear,
                           QString::fromStdString(lmget::encrypt(sys_mm, clear.toStdString())));
    return *it;
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

/// The server name of a PostgreSQL fixture (direct or through the ODBC driver) with `port` in
/// place of the server's own, which goes to `own` if given.
QString with_port(const QString& servername, int port, int* own = nullptr)
{
    static const QRegularExpression number(QStringLiteral("(:|Port=)([0-9]+)$"));
    const auto m = number.match(servername);
    if (own)
        *own = m.captured(2).toInt();
    return servername.left(m.capturedStart(2)) + QString::number(port);
}

/// Starts the hooked updater with `--update` in `dir`; its environment as run() makes it.
std::unique_ptr<QProcess> start_update(const QString& dir, const QString& tmp,
                                       const QString& statement_timeout)
{
    auto p = std::make_unique<QProcess>();
    p->setWorkingDirectory(dir);
    QProcessEnvironment env = environment(tmp);
    env.insert(QStringLiteral("QORV_TEST_STATEMENT_TIMEOUT"), statement_timeout);
    p->setProcessEnvironment(env);
    p->start(hooked, {QStringLiteral("--update")});
    return p;
}

} // namespace

class command_line_test : public QObject {
    Q_OBJECT

    QTemporaryDir tmp_;

private slots:
    void help_explains_the_modes_and_exit_statuses()
    {
        const process_result r = run(QDir::currentPath(), {QStringLiteral("--help")}, tmp_.path());
        QCOMPARE(r.status, 0);
        for (const char* word : {"--check", "--update", "Exit status", "qorv.ini"})
            QVERIFY2(r.out.contains(QLatin1String(word)), word);
        // Named as the program is called, not by the path it was started from.
        QVERIFY2(r.out.startsWith(QLatin1String("Usage: qorv_update [options]\n")),
                 qPrintable(r.out));
        QCOMPARE(run(QDir::currentPath(), {QStringLiteral("--bogus")}, tmp_.path()).status, 1);
        QCOMPARE(run(QDir::currentPath(), {"--check", "--update"}, tmp_.path()).status, 1);
    }

    void stray_arguments_are_refused_without_a_window_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("a lone word") << QStringList{"foo"};
        QTest::newRow("a word after --check") << QStringList{"--check", "foo"};
        QTest::newRow("a word before --update") << QStringList{"foo", "--update"};
    }

    void stray_arguments_are_refused_without_a_window()
    {
        QFETCH(QStringList, args);
        update_server_fixture server(QStringLiteral("sqlite"));
        QVERIFY(server.add({{"a.dll", "2", "a"}}));
        QVERIFY(write_ini(server, QStringLiteral("1")));
        // Without a display a window could not even be attempted.
        QProcessEnvironment no_display;
        no_display.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        no_display.insert(QStringLiteral("DISPLAY"), QStringLiteral("<unset>"));
        no_display.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("<unset>"));
        const process_result r = run(server.install_dir(), args, tmp_.path(), program, no_display);
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QLatin1String("Usage: qorv_update")), qPrintable(r.err));
        QVERIFY(r.out.isEmpty());
        QVERIFY(!QFile::exists(QDir(server.install_dir()).filePath(QStringLiteral("a.dll"))));
    }

    void a_failed_update_in_the_window_exits_3()
    {
        update_server_fixture server(QStringLiteral("sqlite"));
        QVERIFY(server.add({{"a.dll", "2", "a"}, {"b.dll", "2", QByteArray("")}}));
        QVERIFY(write_ini(server, QStringLiteral("1")));
        QProcessEnvironment press;
        press.insert(QStringLiteral("QORV_TEST_PRESS"), QStringLiteral("1"));
        const process_result r = run(server.install_dir(), {}, tmp_.path(), hooked, press);
        QVERIFY2(r.err.contains(texts::download_failed), qPrintable(r.err));
        QCOMPARE(r.status, 3);
    }

    void the_lock_directory_is_reported_when_unusable_data()
    {
        QTest::addColumn<QString>("runtime_dir"); // "file", "unset", "unset, not private"
        QTest::addColumn<int>("status");
        QTest::newRow("runtime directory is a file") << "file" << 5;
        QTest::newRow("runtime directory missing") << "missing" << 5;
        QTest::newRow("no runtime directory: a private one of the user") << "unset" << 0;
        QTest::newRow("no runtime directory, fallback open to all") << "unset, not private" << 5;
    }

    void the_lock_directory_is_reported_when_unusable()
    {
        QFETCH(QString, runtime_dir);
        QFETCH(int, status);
        update_server_fixture server(QStringLiteral("sqlite"));
        QVERIFY(server.add({{"a.dll", "2", "a"}}));
        QVERIFY(write_ini(server, QStringLiteral("1")));
        QTemporaryDir tmp;
        QProcessEnvironment env;
        const QString fallback = tmp.filePath(QStringLiteral("qorv_update-%1").arg(::getuid()));
        QString reported = fallback; // the directory the reason names
        if (runtime_dir == QLatin1String("file")) {
            QFile f(tmp.filePath(QStringLiteral("file")));
            QVERIFY(f.open(QIODevice::WriteOnly));
            env.insert(QStringLiteral("XDG_RUNTIME_DIR"), f.fileName());
            reported = f.fileName();
        } else if (runtime_dir == QLatin1String("missing")) {
            reported = tmp.filePath(QStringLiteral("gone"));
            env.insert(QStringLiteral("XDG_RUNTIME_DIR"), reported);
        } else {
            env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QStringLiteral("<unset>"));
            if (runtime_dir.contains(QLatin1String("not private"))) {
                QVERIFY(QDir().mkpath(fallback));
                QVERIFY(QFile::setPermissions(fallback, QFile::Permissions(0x7777)));
            }
        }
        const process_result r =
            run(server.install_dir(), {QStringLiteral("--check")}, tmp.path(), program, env);
        QCOMPARE(r.status, status);
        QVERIFY2(!r.err.contains(texts::already_running), qPrintable(r.err));
        if (status == 0) {
            // Quietly: nothing but the two versions, and the lock in a directory of the user's own.
            QCOMPARE(r.err, QString());
            QCOMPARE(r.out, QStringLiteral("我的版本：1\n最新的版本：2.0\n"));
            QCOMPARE(QFileInfo(fallback).permissions() & 0x0077, QFile::Permissions());
            QVERIFY(QDir(fallback).exists());
        } else {
            QVERIFY2(r.err.contains(QLatin1String("cannot create the single-instance lock")),
                     qPrintable(r.err));
            QVERIFY(r.out.isEmpty());
            // The reason, once.
            QVERIFY2(r.err.count(reported) == 1, qPrintable(r.err));
        }
    }

    void an_unreadable_journal_is_reported_as_such_data()
    {
        QTest::addColumn<QByteArray>("journal"); // "<directory>": a directory in its place
        QTest::newRow("not a journal") << QByteArray("rubbish\n");
        QTest::newRow("commit journal cut before its moving record")
            << QByteArray("qorv-journal 2 commit\nfile .qorv-n-0000000a .qorv-o-0000000b a.dll\n");
        QTest::newRow("a directory") << QByteArray("<directory>");
    }
    void an_unreadable_journal_is_reported_as_such()
    {
        QFETCH(QByteArray, journal);
        update_server_fixture server(QStringLiteral("sqlite"));
        QVERIFY(server.add({{"a.dll", "2", "a"}}));
        QVERIFY(write_ini(server, QStringLiteral("1")));
        const QString path = QDir(server.install_dir()).filePath(QStringLiteral(".qorv-journal"));
        if (journal == "<directory>") {
            QVERIFY(QDir().mkpath(path));
        } else {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(journal) == journal.size());
        }
        const process_result r =
            run(server.install_dir(), {QStringLiteral("--check")}, tmp_.path());
        QCOMPARE(r.status, 6);
        QVERIFY2(r.err.contains(QStringLiteral("无法读取安装日志 ") + path), qPrintable(r.err));
        QVERIFY2(!r.err.contains(QStringLiteral("无法删除")), qPrintable(r.err));
        // Only the updater's own lines: no warning of Qt's on the side.
        for (const QString& line : r.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            QVERIFY2(line.startsWith(texts::title_error) || line.startsWith(QStringLiteral("无法")),
                     qPrintable(r.err));
        QVERIFY(QFileInfo::exists(path)); // kept for whoever looks into it
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
        const QByteArray ini = read_file(server.ini_file());
        const process_result r =
            run(server.install_dir(), {QStringLiteral("--check")}, tmp_.path());
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, expected);
        QCOMPARE(read_file(server.ini_file()), ini);
        QVERIFY(!QFile::exists(QDir(server.install_dir()).filePath(QStringLiteral("a.dll"))));
    }

    // With a publisher key, --check also says whether the newest version carries its signature.
    void check_says_whether_the_newest_version_is_signed_data()
    {
        QTest::addColumn<QString>("signed_with"); // "trusted", "other" or "nobody"
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("line");
        QTest::newRow("signed with the key") << "trusted" << 0 << "的发布者签名已验证（密钥 ";
        QTest::newRow("signed with another key") << "other" << 3 << "未通过发布者签名检查";
        QTest::newRow("not signed") << "nobody" << 3 << "服务器上没有版本 2.0 的发布者签名";
    }

    void check_says_whether_the_newest_version_is_signed()
    {
        QFETCH(QString, signed_with);
        QFETCH(int, status);
        QFETCH(QString, line);
        update_server_fixture server(QStringLiteral("sqlite"));
        QTemporaryDir keys;
        QVERIFY(keys.isValid());
        const auto admin = [](const QStringList& args) {
            QString out, err;
            QTextStream o(&out), e(&err);
            const int code = admin::run_command_line(args, o, e);
            return std::pair{code, out + err};
        };
        QString trusted;
        for (const QString who : {"trusted", "other"}) {
            QVERIFY(QDir(keys.path()).mkdir(who));
            const auto [code, out] = admin({"keygen", keys.filePath(who)});
            QCOMPARE(code, 0);
            if (who == QLatin1String("trusted"))
                trusted = out.section(u'\n', 0, 0);
        }
        const QStringList db{"--server", server.servername()};
        QCOMPARE(admin(QStringList{"upgrade-table"} + db).first, 0);
        QVERIFY(write_file(keys.filePath("release/a.dll"), "a 2.0"));
        QStringList publish{"publish",
                            "--ver",
                            "2",
                            "--base",
                            keys.filePath("release"),
                            keys.filePath("release/a.dll")};
        if (signed_with != QLatin1String("nobody"))
            publish << "--sign" << keys.filePath(signed_with + "/qorv-release.key");
        QCOMPARE(admin(publish + db).first, 0);
        QVERIFY(write_ini(server, QStringLiteral("1")));
        QCOMPARE(rt::set_profile_string(server.ini_file(), "qorv", "pubkey", trusted), 1);

        const process_result r =
            run(server.install_dir(), {QStringLiteral("--check")}, tmp_.path());
        QCOMPARE(r.status, status);
        QVERIFY2(r.out.startsWith(QStringLiteral("我的版本：1\n最新的版本：2.0\n")),
                 qPrintable(r.out));
        QVERIFY2(r.out.section(u'\n', 2).contains(line), qPrintable(r.out));
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
        process_result r = run(server.install_dir(), {QStringLiteral("--update")}, tmp_.path());
        QCOMPARE(r.status, 0);
        QVERIFY2(
            r.out.contains(texts::title_notice + QStringLiteral(": ") + texts::update_succeeded),
            qPrintable(r.out));
        QCOMPARE(read_file(QDir(server.install_dir()).filePath(QStringLiteral("a.dll"))),
                 QByteArray(100000, 'a'));
        QCOMPARE(read_file(QDir(server.install_dir()).filePath(QStringLiteral("doc/b.txt"))),
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
        const QByteArray ini = read_file(server.ini_file());
        const process_result r =
            run(server.install_dir(), {QStringLiteral("--update")}, tmp_.path());
        QCOMPARE(r.status, 3);
        QVERIFY2(r.err.contains(texts::title_error + QStringLiteral(": ") + texts::download_failed),
                 qPrintable(r.err));
        QCOMPARE(read_file(server.ini_file()), ini);
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
    }

    void an_unreachable_server_is_a_failed_connection()
    {
        QFETCH(QString, ini);
        QFETCH(QString, servername);
        update_server_fixture server(QStringLiteral("sqlite"));
        if (ini == QLatin1String("valid"))
            QVERIFY(write_ini(server, QStringLiteral("1"), servername));
        if (ini == QLatin1String("garbage"))
            for (const char* key : {"servername", "database", "user", "password"})
                QVERIFY(rt::set_profile_string(server.ini_file(), "qorv", key, "garbage!") == 1);
        QElapsedTimer clock;
        clock.start();
        const process_result r =
            run(server.install_dir(), {QStringLiteral("--check")}, tmp_.path());
        QCOMPARE(r.status, 2);
        QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
        const QString message =
            texts::connect_failed(QStringLiteral(QORV_ADMIN_PHONE)).replace(QChar(13), QChar(10));
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QVERIFY(r.err.contains(QLatin1String("cannot connect")));
    }

    // A server that accepts the connection and never answers: the login time-out ends it. Both
    // kinds of server wait out their time-outs side by side, each updater with its own
    // installation and lock.
    void a_server_never_answering_is_a_failed_connection()
    {
        struct attempt {
            attempt(const char* n, const char* form) : name(n), server_form(form) {}
            const char* name;
            const char* server_form;
            update_server_fixture server{QStringLiteral("sqlite")};
            QTcpServer silent; // the kernel completes the handshake; nobody reads or writes
            QTemporaryDir tmp;
            QProcess updater;
            qint64 elapsed = -1;
            process_result r;
        };
        attempt attempts[] = {{"SQL Server", "127.0.0.1,%1"},
                              {"PostgreSQL", "postgresql://127.0.0.1:%1"}};
        for (attempt& a : attempts) {
            QVERIFY(a.silent.listen(QHostAddress::LocalHost));
            QVERIFY(write_ini(a.server, QStringLiteral("1"),
                              QString::fromLatin1(a.server_form).arg(a.silent.serverPort())));
            a.updater.setWorkingDirectory(a.server.install_dir());
            a.updater.setProcessEnvironment(environment(a.tmp.path()));
        }
        QElapsedTimer clock;
        clock.start();
        for (attempt& a : attempts)
            a.updater.start(program, {QStringLiteral("--check")});
        for (attempt& a : attempts) {
            a.r = finish_process(a.updater);
            a.elapsed = clock.elapsed();
        }
        const QString message =
            texts::connect_failed(QStringLiteral(QORV_ADMIN_PHONE)).replace(QChar(13), QChar(10));
        for (const attempt& a : attempts) {
            qInfo("%s", a.name);
            QCOMPARE(a.r.status, 2);
            QVERIFY2(a.elapsed < 15000, qPrintable(QString::number(a.elapsed)));
            QVERIFY2(a.r.err.contains(message), qPrintable(a.r.err));
            QVERIFY(a.r.err.contains(QLatin1String("cannot connect")));
        }
    }

    void without_liblmget_the_connection_fails_with_the_reason()
    {
        update_server_fixture server(QStringLiteral("sqlite"));
        QVERIFY(write_ini(server, QStringLiteral("1")));
        QTemporaryDir alone;
        const QString copy = QDir(alone.path()).filePath(QStringLiteral("qorv_update"));
        QVERIFY(QFile::copy(program, copy));
        const process_result r =
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

        process_result r = run(server.install_dir(), {QStringLiteral("--check")}, tmp.path());
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

    void an_install_stopped_at_any_step_is_completed_or_undone_at_the_next_start()
    {
        update_server_fixture server(QStringLiteral("sqlite"));
        const QByteArray big = QByteArray(100000, 'A') + "end";
        QVERIFY(
            server.add({{"a.dll", "2", big}, {"c.dat", "2", "new c"}, {"lib/b.dll", "2", "b"}}));
        QDir dir(server.install_dir());
        // The settings are written once and then put back byte for byte: writing them anew
        // before each of the many runs would only add file syncs.
        QVERIFY(write_ini(server, QStringLiteral("1")));
        const QByteArray old_ini = read_file(server.ini_file());
        const auto install_old = [&] {
            QVERIFY(QDir(dir.filePath(QStringLiteral("lib"))).removeRecursively());
            for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden))
                QVERIFY(dir.remove(name));
            QVERIFY(dir.mkpath(QStringLiteral("lib")));
            QVERIFY(write_file(server.ini_file(), old_ini));
            for (const char* name : {"a.dll", "c.dat"}) {
                QFile f(dir.filePath(QLatin1String(name)));
                QVERIFY(f.open(QIODevice::WriteOnly) && f.write("old") == 3);
            }
        };
        install_old();
        const auto old_files = installed(dir.path());
        const QMap<QString, QByteArray> new_files{
            {"a.dll", big}, {"c.dat", "new c"}, {"lib/b.dll", "b"}, {"qorv.ini", "2.0"}};

        // A run that is never stopped counts the steps.
        process_result r =
            run_stopped_at(dir.path(), {QStringLiteral("--update")}, tmp_.path(), "0");
        QCOMPARE(r.status, 0);
        const int steps = r.err.section(QStringLiteral("steps: "), 1).toInt();
        QVERIFY2(steps > 20, qPrintable(r.err));
        QCOMPARE(installed(dir.path()), new_files);

        int completed = 0, undone = 0;
        for (int step = 1; step <= steps; ++step) {
            install_old();
            r = run_stopped_at(dir.path(), {QStringLiteral("--update")}, tmp_.path(),
                               QString::number(step));
            QCOMPARE(r.status, -1);
            // Now and then the repair itself is stopped as well.
            if (step % 8 == 0)
                run_stopped_at(dir.path(), {QStringLiteral("--check")}, tmp_.path(), "2");
            r = run(dir.path(), {QStringLiteral("--check")}, tmp_.path());
            QCOMPARE(r.status, 0);
            const auto now = installed(dir.path());
            if (now == new_files)
                ++completed;
            else if (now == old_files)
                ++undone;
            else
                QFAIL(qPrintable(QStringLiteral("step %1 of %2 left: %3")
                                     .arg(step)
                                     .arg(steps)
                                     .arg(QStringList(now.keys()).join(u' '))));
        }
        // Both ends are reached: downloads are undone, interrupted moves completed.
        QVERIFY(completed > 0 && undone > 0);
    }

    void a_stop_signal_during_the_update_puts_everything_back_data()
    {
        QTest::addColumn<QString>("signal");
        QTest::newRow("SIGTERM") << "term";
        QTest::newRow("SIGINT") << "int";
        QTest::newRow("SIGHUP") << "hup";
    }

    void a_stop_signal_during_the_update_puts_everything_back()
    {
        QFETCH(QString, signal);
        update_server_fixture server(QStringLiteral("sqlite"));
        QVERIFY(server.add({{"a.dll", "2", QByteArray(100000, 'a')}, {"b.dll", "2", "b"}}));
        QVERIFY(write_ini(server, QStringLiteral("1")));
        const auto before = installed(server.install_dir());
        // Step 5 is the second chunk of a.dll: the signal arrives while the download runs.
        const process_result r = run_stopped_at(server.install_dir(), {QStringLiteral("--update")},
                                                tmp_.path(), QStringLiteral("5:") + signal);
        QCOMPARE(r.status, -1);
        QVERIFY2(!r.err.contains(QLatin1String("steps:")), qPrintable(r.err));
        QCOMPARE(installed(server.install_dir()), before);
    }

    void a_stalled_download_ends_in_time_or_at_a_stop_signal_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<int>("signal"); // 0: none, the statement time-out ends the update
        for (const char* form : {"postgresql", "odbc"}) {
            const QString f = QString::fromLatin1(form);
            QTest::addRow("%s: time-out", form) << f << 0;
            QTest::addRow("%s: SIGTERM", form) << f << int(SIGTERM);
            QTest::addRow("%s: SIGINT", form) << f << int(SIGINT);
            QTest::addRow("%s: SIGHUP", form) << f << int(SIGHUP);
        }
    }

    // The server stops answering in the middle of a file: the statement time-out ends the
    // update with the database error, a stop signal ends it within a second, by that signal.
    void a_stalled_download_ends_in_time_or_at_a_stop_signal()
    {
        QFETCH(QString, form);
        QFETCH(int, signal);
        update_server_fixture server(form);
        if (!server.valid() && !postgresql_available())
            QSKIP("the suite's PostgreSQL server is not running");
        QVERIFY2(server.valid(), qPrintable(server.error()));
        QVERIFY(
            server.add({{"a.dll", "2", random_bytes(6 * 1024 * 1024, 7)}, {"b.dll", "2", "b"}}));
        int server_port = 0;
        with_port(server.servername(), 0, &server_port);
        tcp_proxy proxy(server_port);
        QVERIFY(
            write_ini(server, QStringLiteral("1"), with_port(server.servername(), proxy.port())));
        const auto before = installed(server.install_dir());

        proxy.stall_after(3 * 1024 * 1024);
        const int timeout = signal != 0 ? 60 : 2;
        const auto p = start_update(server.install_dir(), tmp_.path(), QString::number(timeout));
        QVERIFY(p->waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(proxy.stalled(), 30000);
        QTest::qWait(300); // the updater waits for the rest now
        QElapsedTimer clock;
        clock.start();
        if (signal != 0)
            ::kill(static_cast<pid_t>(p->processId()), signal);
        QVERIFY(p->waitForFinished(30000));
        const qint64 elapsed = clock.elapsed();
        const QString err = QString::fromUtf8(p->readAllStandardError());
        if (signal != 0) {
            QCOMPARE(p->exitStatus(), QProcess::CrashExit);
            QCOMPARE(p->exitCode(), signal);
            QVERIFY2(elapsed < 1000, qPrintable(QString::number(elapsed)));
        } else {
            QCOMPARE(p->exitStatus(), QProcess::NormalExit);
            QCOMPARE(p->exitCode(), 3);
            QVERIFY2(err.contains(texts::title_database_error) &&
                         err.contains(QStringLiteral("%1 s").arg(timeout)),
                     qPrintable(err));
            QVERIFY2(elapsed < (timeout + 5) * 1000, qPrintable(QString::number(elapsed)));
        }
        QCOMPARE(installed(server.install_dir()), before);
    }

    // The log-in's data source for the SQL Server driver exists while the driver connects.
    void a_stop_signal_during_the_sql_server_log_in_leaves_no_file()
    {
        update_server_fixture server(QStringLiteral("sqlite"));
        QTcpServer silent; // accepts and never answers: the driver waits in its log-in
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        QVERIFY(write_ini(server, QStringLiteral("1"),
                          QStringLiteral("127.0.0.1,%1").arg(silent.serverPort())));
        QTemporaryDir tmp;
        QProcess p;
        p.setWorkingDirectory(server.install_dir());
        p.setProcessEnvironment(environment(tmp.path()));
        p.start(program, {QStringLiteral("--update")});
        QVERIFY(p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(silent.hasPendingConnections(), 20000);
        ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::CrashExit);
        QCOMPARE(p.exitCode(), int(SIGTERM));
        // Nothing but the single-instance lock, which a killed updater leaves for the next.
        QCOMPARE(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("qorv_update.lock")});
    }

    void a_busy_server_is_waited_for_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<QString>("how"); // what happens while the updater waits
        QTest::newRow("postgresql: connections freed") << "postgresql"
                                                       << "freed";
        QTest::newRow("odbc: connections freed") << "odbc"
                                                 << "freed";
        QTest::newRow("still full when the time is up") << "postgresql"
                                                        << "full";
        QTest::newRow("SIGTERM while waiting") << "postgresql"
                                               << "SIGTERM";
        QTest::newRow("wrong password: no wait") << "postgresql"
                                                 << "password";
    }

    // The crowded cluster refuses log-ins beyond its few connections: the updater waits for
    // one (the connections held here are closed after 3 s), gives up when the time allowed is
    // used up, stops at once at a stop signal; a log-in refused for another reason fails at once.
    void a_busy_server_is_waited_for()
    {
        QFETCH(QString, form);
        QFETCH(QString, how);
        const auto crowded = read_pg_server("QORV_PG_CROWDED_ENV");
        if (!crowded)
            QSKIP("the suite's crowded PostgreSQL server is not running");
        update_server_fixture server(form, crowded);
        QVERIFY2(server.valid(), qPrintable(server.error()));
        QVERIFY(server.add({{"a.dll", "2", random_bytes(300000, 3)}, {"b.dll", "2", "b"}}));
        QVERIFY(write_ini(server, QStringLiteral("1")));
        if (how == QLatin1String("password"))
            QCOMPARE(rt::set_profile_string(server.ini_file(), "qorv", "password",
                                            encrypted(QStringLiteral("wrong"))),
                     1);
        const auto before = installed(server.install_dir());

        std::vector<std::unique_ptr<rt::transaction>> held;
        while (how != QLatin1String("password")) {
            auto t = std::make_unique<rt::transaction>();
            t->servername = crowded->server;
            t->logid = crowded->user;
            t->logpass = crowded->password;
            t->dbparm = QStringLiteral("Database='%1'").arg(crowded->database);
            if (t->connect() < 0) {
                QVERIFY2(t->refused_for_capacity(), qPrintable(t->sqlerrtext));
                break;
            }
            held.push_back(std::move(t));
            QVERIFY(held.size() < 10);
        }
        QTimer release; // destroyed before `held`
        release.setSingleShot(true);
        connect(&release, &QTimer::timeout, this, [&held] { held.clear(); });
        if (how == QLatin1String("freed"))
            release.start(3000);

        QProcess p;
        p.setWorkingDirectory(server.install_dir());
        QProcessEnvironment env = environment(tmp_.path());
        env.insert(QStringLiteral("QORV_TEST_CONNECT_WAIT"), QStringLiteral("4"));
        p.setProcessEnvironment(env);
        QElapsedTimer clock;
        clock.start();
        p.start(hooked, {QStringLiteral("--update")});
        QVERIFY(p.waitForStarted());
        QString err;
        const QString busy = QStringLiteral("qorv_update: 升级服务器繁忙");
        if (how == QLatin1String("SIGTERM")) {
            QTRY_VERIFY_WITH_TIMEOUT(
                (err += QString::fromUtf8(p.readAllStandardError()), err.contains(busy)), 20000);
            clock.restart();
            ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
        }
        QTRY_VERIFY_WITH_TIMEOUT(p.state() == QProcess::NotRunning, 40000);
        const qint64 elapsed = clock.elapsed();
        err += QString::fromUtf8(p.readAllStandardError());
        const int retries = int(err.count(busy));
        if (how == QLatin1String("freed")) {
            QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0, qPrintable(err));
            QVERIFY2(retries >= 1, qPrintable(err));
            QCOMPARE(read_file(QDir(server.install_dir()).filePath(QStringLiteral("a.dll"))),
                     random_bytes(300000, 3));
            return;
        }
        QCOMPARE(installed(server.install_dir()), before);
        if (how == QLatin1String("SIGTERM")) {
            QCOMPARE(p.exitStatus(), QProcess::CrashExit);
            QCOMPARE(p.exitCode(), int(SIGTERM));
            QVERIFY2(elapsed < 1000, qPrintable(QString::number(elapsed)));
            return;
        }
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 2);
        const QString message =
            texts::connect_failed(QStringLiteral(QORV_ADMIN_PHONE)).replace(QChar(13), QChar(10));
        QVERIFY2(err.contains(message), qPrintable(err));
        if (how == QLatin1String("full")) {
            QVERIFY2(retries >= 2 && err.contains(QLatin1String("53300")), qPrintable(err));
            QVERIFY2(elapsed >= 4000 && elapsed < 15000, qPrintable(QString::number(elapsed)));
        } else {
            QVERIFY2(retries == 0 && err.contains(QLatin1String("28P01")), qPrintable(err));
            QVERIFY2(elapsed < 10000, qPrintable(QString::number(elapsed)));
        }
    }

    // Debian's entry of the PostgreSQL ODBC driver switches its logs on for every program.
    void an_odbc_run_leaves_no_driver_log()
    {
        update_server_fixture server(QStringLiteral("odbc"));
        if (!server.valid() && !postgresql_available())
            QSKIP("the suite's PostgreSQL server is not running");
        QVERIFY2(server.valid(), qPrintable(server.error()));
        QVERIFY(server.add({{"a.dll", "2", "a"}}));
        QVERIFY(write_ini(server, QStringLiteral("1")));
        QProcess p;
        p.setWorkingDirectory(server.install_dir());
        p.setProcessEnvironment(environment(tmp_.path()));
        p.start(program, {QStringLiteral("--update")});
        QVERIFY(p.waitForStarted());
        const QString pid = QString::number(p.processId());
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(QDir(QStringLiteral("/tmp"))
                     .entryList({QStringLiteral("psqlodbc_*") + pid + QStringLiteral(".log"),
                                 QStringLiteral("mylog_*") + pid + QStringLiteral(".log")}),
                 QStringList());
    }
};

QTEST_GUILESS_MAIN(command_line_test)
#include "command_line_test.moc"
