// qorv_admin end to end (the program run as a process) against a SQLite file and the
// PostgreSQL server of the test fixture, its command line in-process, and its publishing checks
// directly.

#include "admin.h"
#include "backend_rows.h"
#include "command.h"
#include "lmget_cipher.h"
#include "pg_database.h"
#include "random_bytes.h"
#include "settings_key.h"
#include "test_files.h"
#include "test_process.h"

#include <rt/db/transaction.h>
#include <rt/value/codepage.h>
#include <rt/value/profile.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QUrl>

using namespace qorv::test;

namespace {

const char* const database_name = "qorv_admintest";
// The same server through unixODBC and its PostgreSQL driver, in a database of its own.
const char* const odbc_database_name = "qorv_admintest_odbc";

/// qorv_admin run as a process, in `dir` when one is given.
process_result run(const QStringList& args, const QString& dir = {})
{
    return run_process(QStringLiteral(QORV_ADMIN_PATH), args, dir, {}, 300000);
}

// The same in-process, in `dir` as working directory.
process_result call(const QStringList& args, const QString& dir = {})
{
    const QString previous = QDir::currentPath();
    if (!dir.isEmpty() && !QDir::setCurrent(dir))
        return {};
    process_result r;
    QTextStream out(&r.out);
    QTextStream err(&r.err);
    r.status = qorv::admin::run_command_line(args, out, err);
    QDir::setCurrent(previous);
    return r;
}

} // namespace

class qorv_admin_test : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    std::optional<qorv::test::pg_server> pg_;

    QString base() const { return dir_.filePath(QStringLiteral("base")); }

    QStringList backends() const
    {
        QStringList names{QStringLiteral("sqlite")};
        if (pg_)
            names << QStringLiteral("postgresql") << QStringLiteral("odbc");
        return names;
    }

    QString odbc_server() const
    {
        const QUrl url(pg_->server);
        return QStringLiteral("odbc:Driver=/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so;Server=%1;"
                              "Port=%2")
            .arg(url.host())
            .arg(url.port());
    }
    QString database_of(const QString& backend) const
    {
        return QString::fromLatin1(backend == QLatin1String("odbc") ? odbc_database_name
                                                                    : database_name);
    }

    QStringList connection(const QString& backend) const
    {
        return connection(backend, database_of(backend));
    }
    QStringList connection(const QString& backend, const QString& database) const
    {
        if (backend == QLatin1String("sqlite"))
            return {QStringLiteral("--server"), QStringLiteral("sqlite:") + dir_.filePath("u.db")};
        return {QStringLiteral("--server"),
                backend == QLatin1String("odbc") ? odbc_server() : pg_->server,
                QStringLiteral("--database"),
                database,
                QStringLiteral("--user"),
                pg_->user,
                QStringLiteral("--password"),
                pg_->password};
    }

    std::unique_ptr<rt::transaction> open(const QString& backend) const
    {
        return open(backend, database_of(backend));
    }
    std::unique_ptr<rt::transaction> open(const QString& backend, const QString& database) const
    {
        auto t = std::make_unique<rt::transaction>();
        if (backend == QLatin1String("sqlite")) {
            t->servername = QStringLiteral("sqlite:") + dir_.filePath("u.db");
        } else {
            t->servername = backend == QLatin1String("odbc") ? odbc_server() : pg_->server;
            t->logid = pg_->user;
            t->logpass = pg_->password;
            t->dbparm = QStringLiteral("Database='%1'").arg(database);
        }
        t->connect();
        return t;
    }

    // The bytes stored for one file, or std::nullopt.
    std::optional<QByteArray> stored(const QString& backend, const QString& name,
                                     const QString& ver, const QString& database = {}) const
    {
        auto t = open(backend, database.isEmpty() ? database_of(backend) : database);
        auto r = t->open_blob(QStringLiteral("t_file"), QStringLiteral("filedata"),
                              QStringLiteral("filename = ? and ver = ?"), {name, ver});
        if (!r)
            return std::nullopt;
        QByteArray data;
        std::vector<std::byte> buffer(100000);
        for (std::int64_t n; (n = r->read(buffer)) > 0;)
            data.append(reinterpret_cast<const char*>(buffer.data()), qsizetype(n));
        return data;
    }

    QString count(const QString& backend, const QString& where = QStringLiteral("1 = 1")) const
    {
        auto t = open(backend);
        return t->select_value(QStringLiteral("select count(*) from t_file where ") + where)
            .value_or(QStringLiteral("?"));
    }

    // Adds `row` once per backend, named "<backend>: <name>".
    template <typename F> void per_backend(const char* name, F&& row) const
    {
        qorv::test::add_backend_rows(backends(), name, std::forward<F>(row));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        pg_ = qorv::test::find_pg_server();
        QVERIFY(write_file(base() + "/sub/dir/note.txt", "note\n"));
        QVERIFY(write_file(base() + "/中文名.txt", "中文内容"));
        QVERIFY(write_file(base() + "/big.bin", random_bytes(3 * 1024 * 1024 + 5, 1)));
        QVERIFY(write_file(base() + "/empty.dat", {}));
        QVERIFY(write_file(base() + "/one.dat", "1"));
        QVERIFY(write_file(base() + "/reserved/.qorv-journal", "qorv-journal 2 commit\n"));
        QVERIFY(write_file(base() + "/reserved/.a.dll.qorv-new-0000abcd", "x"));
        QVERIFY(write_file(dir_.filePath("outside.txt"), "outside"));
        QVERIFY(QFile::link(dir_.filePath("outside.txt"), base() + "/link_out.txt"));
        QVERIFY(QFile::link(base() + "/sub/dir/note.txt", base() + "/link_in.txt"));
        QVERIFY(QFile::link(dir_.path(), base() + "/up"));
        QVERIFY(write_file(base() + "/bad:name.txt", "x"));

        if (pg_) {
            rt::transaction admin;
            QVERIFY2(qorv::test::connect_admin(admin, *pg_), qPrintable(admin.sqlerrtext));
            for (const char* name : {database_name, odbc_database_name}) {
                QCOMPARE(admin.execute(QStringLiteral("drop database if exists %1").arg(name)), 0L);
                QCOMPARE(admin.execute(QStringLiteral("create database %1 template template0 "
                                                      "encoding 'UTF8' lc_collate 'C' lc_ctype "
                                                      "'C'")
                                           .arg(name)),
                         0L);
            }
        }
        for (const QString& b : backends()) {
            const process_result first = run(QStringList{QStringLiteral("init")} + connection(b));
            QVERIFY2(first.status == 0, qPrintable(first.err));
            // A second init finds the table and fails without harm.
            const process_result second = run(QStringList{QStringLiteral("init")} + connection(b));
            QCOMPARE(second.status, 2);
            QVERIFY(second.err.contains(QStringLiteral("t_file")));
        }
    }

    void normalized_version_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected"); // null: refused
        QTest::newRow("integer") << "2"
                                 << "2.0";
        QTest::newRow("one decimal") << "1.3"
                                     << "1.3";
        QTest::newRow("three decimals") << "1.125"
                                        << "1.125";
        QTest::newRow("trailing zeros dropped") << "1.300"
                                                << "1.3";
        QTest::newRow("zeros beyond the third decimal") << "1.1250000"
                                                        << "1.125";
        QTest::newRow("leading zeros dropped") << "007.5"
                                               << "7.5";
        QTest::newRow("point without decimals") << "10."
                                                << "10.0";
        QTest::newRow("zero") << "0"
                              << "0.0";
        QTest::newRow("nine digits") << "999999999.999"
                                     << "999999999.999";
        QTest::newRow("four decimals") << "1.3456" << QString();
        QTest::newRow("ten digits") << "1000000000" << QString();
        QTest::newRow("negative") << "-1" << QString();
        QTest::newRow("plus sign") << "+1" << QString();
        QTest::newRow("exponent") << "1e3" << QString();
        QTest::newRow("blank") << " 1.3" << QString();
        QTest::newRow("comma") << "1,3" << QString();
        QTest::newRow("only a point") << "." << QString();
        QTest::newRow("leading point") << ".5" << QString();
        QTest::newRow("empty") << "" << QString();
        QTest::newRow("word") << "abc" << QString();
    }
    void normalized_version()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QString why;
        const auto v = qorv::admin::normalized_version(text, &why);
        QCOMPARE(v.has_value(), !expected.isNull());
        if (v)
            QCOMPARE(*v, expected);
        else
            QVERIFY(why.contains(text.isEmpty() ? QStringLiteral("version") : text));
    }

    void published_name_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("expected"); // null: refused
        QTest::newRow("in a subdirectory") << base() + "/sub/dir/note.txt"
                                           << "sub/dir/note.txt";
        QTest::newRow("chinese name") << base() + "/中文名.txt"
                                      << "中文名.txt";
        QTest::newRow("dot segments inside") << base() + "/sub/./dir/../dir/note.txt"
                                             << "sub/dir/note.txt";
        QTest::newRow("link inside the base") << base() + "/link_in.txt"
                                              << "link_in.txt";
        QTest::newRow("dot dot out") << base() + "/../outside.txt" << QString();
        QTest::newRow("absolute outside") << dir_.filePath("outside.txt") << QString();
        QTest::newRow("link out") << base() + "/link_out.txt" << QString();
        QTest::newRow("through a directory link out") << base() + "/up/outside.txt" << QString();
        QTest::newRow("the base itself") << base() << QString();
        QTest::newRow("a directory") << base() + "/sub" << QString();
        QTest::newRow("missing") << base() + "/missing.txt" << QString();
        QTest::newRow("windows-forbidden character") << base() + "/bad:name.txt" << QString();
        QTest::newRow("the updater's journal") << base() + "/reserved/.qorv-journal" << QString();
        QTest::newRow("an earlier updater's temporary")
            << base() + "/reserved/.a.dll.qorv-new-0000abcd" << QString();
        QTest::newRow("empty file") << base() + "/empty.dat" << QString();
    }
    void published_name()
    {
        QFETCH(QString, file);
        QFETCH(QString, expected);
        QString why;
        const auto name = qorv::admin::published_name(QDir(base()), file, &why);
        QCOMPARE(name.has_value(), !expected.isNull());
        if (name)
            QCOMPARE(*name, expected);
        else
            QVERIFY(!why.isEmpty());
    }

    void command_line_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("out"); // expected in stdout (help) or stderr (errors)
        QTest::newRow("program help") << QStringList{"--help"} << 0 << "publish";
        QTest::newRow("program help names exit codes")
            << QStringList{"--help"} << 0 << "1 usage error";
        QTest::newRow("encrypt help") << QStringList{"encrypt", "--help"} << 0 << "ANSI";
        QTest::newRow("write-ini help") << QStringList{"write-ini", "--help"} << 0 << "--ver";
        QTest::newRow("init help") << QStringList{"init", "--help"} << 0 << "T-SQL";
        QTest::newRow("publish help") << QStringList{"publish", "--help"} << 0 << "--replace";
        QTest::newRow("list help") << QStringList{"list", "--help"} << 0 << "2 failure";
        QTest::newRow("withdraw help") << QStringList{"withdraw", "--help"} << 0 << "--ver";
        QTest::newRow("withdraw help names the command")
            << QStringList{"withdraw", "--help"} << 0 << "Usage: qorv_admin withdraw [options]";
        QTest::newRow("program help lists withdraw") << QStringList{"--help"} << 0 << "withdraw";
        QTest::newRow("withdraw without version")
            << QStringList{"withdraw", "--server", "sqlite:x.db"} << 1 << "--ver";
        QTest::newRow("no command") << QStringList{} << 1 << "no command";
        QTest::newRow("unknown command") << QStringList{"frobnicate"} << 1 << "frobnicate";
        QTest::newRow("unknown option") << QStringList{"list", "--bogus"} << 1 << "bogus";
        QTest::newRow("encrypt without text") << QStringList{"encrypt"} << 1 << "TEXT";
        QTest::newRow("publish without version")
            << QStringList{"publish", "--server", "sqlite:x.db", "--base", ".", "f"} << 1
            << "--ver";
        QTest::newRow("publish without base")
            << QStringList{"publish", "--server", "sqlite:x.db", "--ver", "1", "f"} << 1
            << "--base";
        QTest::newRow("publish without files")
            << QStringList{"publish", "--server", "sqlite:x.db", "--ver", "1", "--base", "."} << 1
            << "FILE";
        QTest::newRow("publish with four decimals")
            << QStringList{"publish", "--server", "sqlite:x.db", "--ver",
                           "1.0001",  "--base",   ".",           "f"}
            << 1 << "three decimals";
        QTest::newRow("publish with a word as version")
            << QStringList{"publish", "--server", "sqlite:x.db", "--ver", "new", "--base", ".", "f"}
            << 1 << "not a plain decimal";
        QTest::newRow("list without server") << QStringList{"list"} << 1 << "--server";
        QTest::newRow("write-ini without password")
            << QStringList{"write-ini", ".", "--server", "s", "--database", "d", "--user", "u"} << 1
            << "--password";
        QTest::newRow("list on a missing sqlite file")
            << QStringList{"list", "--server", "sqlite:no/such.db"} << 2 << "cannot connect";
        // Text the ANSI code page cannot hold would be stored as '?': refused, nothing written.
        QTest::newRow("encrypt of a euro sign and an emoji")
            << QStringList{"encrypt", "pw€😀"} << 2 << "ANSI code page";
        QTest::newRow("write-ini with an emoji in the password")
            << QStringList{"write-ini", ".",      "--server", "s",          "--database",
                           "d",         "--user", "u",        "--password", "pw😀"}
            << 2 << "--password";
        QTest::newRow("write-ini with a korean database name")
            << QStringList{"write-ini", ".",      "--server", "s",          "--database",
                           "시험",      "--user", "u",        "--password", "p"}
            << 2 << "--database";
        QTest::newRow("sql server schema is printed")
            << QStringList{"init", "--server", "db.example,1433"} << 0 << "varbinary(max)";
    }
    void command_line()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, out);
        const process_result r = call(args, dir_.path());
        QCOMPARE(r.status, code);
        const QString& text = code == 0 ? r.out : r.err;
        QVERIFY2(text.contains(out), qPrintable(r.out + r.err));
        if (code != 0)
            QVERIFY(!QFile::exists(dir_.filePath(QStringLiteral("qorv.ini"))));
    }

    // The program is the in-process call on its standard streams (UTF-8 included).
    void program_says_what_the_call_says_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("program help") << QStringList{"--help"};
        QTest::newRow("command help") << QStringList{"publish", "--help"};
        QTest::newRow("no command") << QStringList{};
        QTest::newRow("unknown option") << QStringList{"list", "--bogus"};
        QTest::newRow("text outside the ANSI code page") << QStringList{"encrypt", "pw€😀"};
        QTest::newRow("sql server schema") << QStringList{"init", "--server", "db.example"};
    }
    void program_says_what_the_call_says()
    {
        QFETCH(QStringList, args);
        const process_result program = run(args, dir_.path());
        const process_result in_process = call(args, dir_.path());
        QCOMPARE(program.status, in_process.status);
        QCOMPARE(program.out, in_process.out);
        QCOMPARE(program.err, in_process.err);
        QVERIFY(!(program.out + program.err).isEmpty());
    }

    void encrypt_prints_what_decrypts_to_the_ansi_text_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("login") << "sa";
        QTest::newRow("chinese") << "考务数据库";
        QTest::newRow("blanks and quote") << "exam's db 2";
        QTest::newRow("empty") << "";
    }
    void encrypt_prints_what_decrypts_to_the_ansi_text()
    {
        QFETCH(QString, text);
        const process_result r = run({QStringLiteral("encrypt"), text});
        QCOMPARE(r.status, 0);
        const QByteArray stored = r.out.trimmed().toLatin1();
        const auto clear = lmget::decrypt(qorv::sys_mm, stored.toStdString());
        QVERIFY(clear.has_value());
        QCOMPARE(QByteArray::fromStdString(*clear), rt::to_ansi(text));
    }

    void write_ini_reads_back()
    {
        const QString dir = dir_.filePath(QStringLiteral("install"));
        QVERIFY(QDir().mkpath(dir));
        const QString ini = dir + QStringLiteral("/qorv.ini");
        QVERIFY(write_file(ini, "; kept comment\n[other]\nkey=value\n[qorv]\nver=1.0\n"));
        const process_result r =
            run({"write-ini", dir, "--server", "sqlite:u.db", "--database", "exam's db", "--user",
                 "管理员", "--password", "p=w;d", "--ver", "2.50"});
        QVERIFY2(r.status == 0, qPrintable(r.err));
        const QString section = QStringLiteral("qorv");
        auto clear = [&](const char* key) {
            const QByteArray stored = rt::profile_string(ini, section, key).toLatin1();
            const auto value = lmget::decrypt(qorv::sys_mm, stored.toStdString());
            return value ? rt::from_ansi(QByteArray::fromStdString(*value)) : QStringLiteral("?");
        };
        QCOMPARE(clear("servername"), QStringLiteral("sqlite:u.db"));
        QCOMPARE(clear("database"), QStringLiteral("exam's db"));
        QCOMPARE(clear("user"), QStringLiteral("管理员"));
        QCOMPARE(clear("password"), QStringLiteral("p=w;d"));
        QCOMPARE(rt::profile_string(ini, section, "ver"), QStringLiteral("2.5"));
        QFile f(ini);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray raw = f.readAll();
        QVERIFY(raw.contains("ver=\"2.5\""));
        QVERIFY(raw.contains("; kept comment"));
        QCOMPARE(rt::profile_string(ini, "other", "key"), QStringLiteral("value"));

        // Missing directory: failure, nothing written.
        const process_result missing = run({"write-ini", dir_.filePath("nowhere"), "--server", "s",
                                            "--database", "d", "--user", "u", "--password", "p"});
        QCOMPARE(missing.status, 2);
        QVERIFY(!QFile::exists(dir_.filePath("nowhere/qorv.ini")));
    }

    void publish_and_list_data()
    {
        QTest::addColumn<QString>("backend");
        per_backend("version 1.3", [](QTestData&) {});
    }
    void publish_and_list()
    {
        QFETCH(QString, backend);
        const QStringList files{base() + "/sub", base() + "/中文名.txt", base() + "/big.bin",
                                base() + "/one.dat"};
        const process_result r = run(QStringList{"publish", "--ver", "1.30", "--base", base()} +
                                     connection(backend) + files);
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QCOMPARE(count(backend, "ver = 1.3"), QStringLiteral("4"));
        const std::pair<const char*, QString> expected[] = {
            {"sub/dir/note.txt", "sub/dir/note.txt"},
            {"中文名.txt", "中文名.txt"},
            {"big.bin", "big.bin"},
            {"one.dat", "one.dat"},
        };
        for (const auto& [name, path] : expected) {
            QFile f(base() + QLatin1Char('/') + path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            const auto data = stored(backend, QString::fromUtf8(name), QStringLiteral("1.3"));
            QVERIFY2(data.has_value(), name);
            QVERIFY2(*data == f.readAll(), name);
        }

        // Each file's SHA-256 is stored beside it.
        QFile big(base() + "/big.bin");
        QVERIFY(big.open(QIODevice::ReadOnly));
        QCOMPARE(open(backend)
                     ->select_value(QStringLiteral("select filehash from t_file where filename = "
                                                   "'big.bin' and ver = 1.3"))
                     .value_or("?"),
                 QString::fromLatin1(
                     QCryptographicHash::hash(big.readAll(), QCryptographicHash::Sha256).toHex()));

        // Replacing one file keeps the others and, on PostgreSQL, leaves no orphan object.
        auto objects = [&] {
            return backend == QLatin1String("postgresql")
                       ? open(backend)
                             ->select_value(
                                 QStringLiteral("select count(*) from pg_largeobject_metadata"))
                             .value_or("?")
                       : QString();
        };
        const QString objects_before = objects();
        QVERIFY(write_file(dir_.filePath("base2/中文名.txt"), "新内容"));
        const process_result rep =
            run(QStringList{"publish", "--ver", "1.3", "--base", dir_.filePath("base2"),
                            "--replace", dir_.filePath("base2/中文名.txt")} +
                connection(backend));
        QVERIFY2(rep.status == 0, qPrintable(rep.err));
        QCOMPARE(stored(backend, QStringLiteral("中文名.txt"), QStringLiteral("1.3")).value_or("?"),
                 QByteArray("新内容"));
        QCOMPARE(count(backend, "ver = 1.3"), QStringLiteral("4"));
        QCOMPARE(objects(), objects_before);

        // A second version, then the list: versions in numeric order, counts, sizes and "-" for
        // versions not signed.
        const process_result v10 = run(
            QStringList{"publish", "--ver", "10", "--base", base(), base() + "/sub/dir/note.txt"} +
            connection(backend));
        QVERIFY2(v10.status == 0, qPrintable(v10.err));
        const process_result list = run(QStringList{"list"} + connection(backend));
        QVERIFY2(list.status == 0, qPrintable(list.err));
        const qint64 size13 = QFileInfo(base() + "/sub/dir/note.txt").size() +
                              QByteArray("新内容").size() + QFileInfo(base() + "/big.bin").size() +
                              1;
        const QStringList lines = list.out.split('\n', Qt::SkipEmptyParts);
        QStringList rows;
        for (const QString& line : lines.mid(1))
            rows << line.simplified();
        QCOMPARE(rows, (QStringList{QStringLiteral("1.3 4 %1 -").arg(size13),
                                    QStringLiteral("10.0 1 %1 -")
                                        .arg(QFileInfo(base() + "/sub/dir/note.txt").size())}));
    }

    // A table made before hashes existed takes publications as before, and gains the column.
    void upgrade_table_adds_the_hash_column()
    {
        const QString db = dir_.filePath(QStringLiteral("old.db"));
        {
            rt::transaction t;
            t.servername = QStringLiteral("sqlite:") + db;
            t.dbparm = QStringLiteral("Create='yes'");
            QCOMPARE(t.connect(), 0L);
            QCOMPARE(t.execute(QStringLiteral("create table t_file (filename text not null, ver "
                                              "numeric not null, filedata blob, primary key "
                                              "(filename, ver))")),
                     0L);
            QCOMPARE(t.commit(), 0L);
        }
        const QStringList server{QStringLiteral("--server"), QStringLiteral("sqlite:") + db};
        const QStringList publish{"publish", "--base", base(), base() + "/sub/dir/note.txt"};
        const process_result before = run(publish + server + QStringList{"--ver", "1"});
        QVERIFY2(before.status == 0, qPrintable(before.err));
        for (const char* expected : {"added", "already"}) {
            const process_result up = run(QStringList{"upgrade-table"} + server);
            QVERIFY2(up.status == 0 && up.err.contains(QLatin1String(expected)),
                     qPrintable(up.err));
        }
        const process_result after = run(publish + server + QStringList{"--ver", "2"});
        QVERIFY2(after.status == 0, qPrintable(after.err));
        rt::transaction t;
        t.servername = QStringLiteral("sqlite:") + db;
        QCOMPARE(t.connect(), 0L);
        QCOMPARE(t.select_value(QStringLiteral("select coalesce(filehash, 'none') from t_file "
                                               "order by ver"))
                     .value_or("?"),
                 QStringLiteral("none"));
        QCOMPARE(t.select_value(QStringLiteral("select filehash from t_file where ver = 2"))
                     .value_or("?"),
                 QString::fromLatin1(
                     QCryptographicHash::hash("note\n", QCryptographicHash::Sha256).toHex()));
    }

    void publish_refuses_and_stores_nothing_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        const QString good = base() + "/sub/dir/note.txt";
        per_backend("dot dot out", [&](QTestData& d) {
            d << QStringList{good, base() + "/../outside.txt"} << 2 << "not inside";
        });
        per_backend("absolute outside", [&](QTestData& d) {
            d << QStringList{good, dir_.filePath("outside.txt")} << 2 << "not inside";
        });
        per_backend("symbolic link out", [&](QTestData& d) {
            d << QStringList{good, base() + "/link_out.txt"} << 2 << "symbolic link";
        });
        per_backend("missing file", [&](QTestData& d) {
            d << QStringList{good, base() + "/missing.txt"} << 2 << "does not exist";
        });
        per_backend("already published", [&](QTestData& d) {
            d << QStringList{good, base() + "/big.bin"} << 2 << "--replace";
        });
        per_backend("empty file", [&](QTestData& d) {
            d << QStringList{good, base() + "/empty.dat"} << 2 << "is empty";
        });
        per_backend("the updater's journal in a directory", [&](QTestData& d) {
            d << QStringList{good, base() + "/reserved"} << 2 << "kept for the updater";
        });
    }
    void publish_refuses_and_stores_nothing()
    {
        QFETCH(QString, backend);
        QFETCH(QStringList, files);
        QFETCH(int, code);
        QFETCH(QString, message);
        // big.bin is published as 7 first, so that the last row finds it there.
        const process_result setup = run(QStringList{"publish", "--ver", "7", "--base", base(),
                                                     "--replace", base() + "/big.bin"} +
                                         connection(backend));
        QVERIFY2(setup.status == 0, qPrintable(setup.err));
        const process_result r = run(QStringList{"publish", "--ver", "7.000", "--base", base()} +
                                     connection(backend) + files);
        QCOMPARE(r.status, code);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        // The good file named first was not stored either.
        QCOMPARE(count(backend, "ver = 7"), QStringLiteral("1"));
    }

    void withdraw_removes_exactly_one_version_data()
    {
        QTest::addColumn<QString>("backend");
        per_backend("version 20", [](QTestData&) {});
    }
    void withdraw_removes_exactly_one_version()
    {
        QFETCH(QString, backend);
        const auto objects = [&] {
            return backend == QLatin1String("postgresql")
                       ? open(backend)
                             ->select_value(
                                 QStringLiteral("select count(*) from pg_largeobject_metadata"))
                             .value_or("?")
                       : QString();
        };
        const QString objects_before = objects();
        const QString others = count(backend, "ver <> 20");
        const QStringList publish{"publish", "--base", base()};
        const process_result p20 =
            run(publish + connection(backend) +
                QStringList{"--ver", "20", base() + "/sub", base() + "/中文名.txt"});
        QVERIFY2(p20.status == 0, qPrintable(p20.err));
        const process_result p21 =
            run(publish + connection(backend) + QStringList{"--ver", "21", base() + "/one.dat"});
        QVERIFY2(p21.status == 0, qPrintable(p21.err));

        const process_result w =
            run(QStringList{"withdraw", "--ver", "20.0"} + connection(backend));
        QVERIFY2(w.status == 0, qPrintable(w.err));
        QCOMPARE(w.out, QStringLiteral("withdrew version 20.0: 2 file(s)\n  sub/dir/note.txt\n"
                                       "  中文名.txt\n"));
        QCOMPARE(count(backend, "ver = 20"), QStringLiteral("0"));
        QCOMPARE(count(backend, "ver = 21"), QStringLiteral("1"));
        QCOMPARE(count(backend, "ver <> 20 and ver <> 21"), others);
        if (backend == QLatin1String("postgresql")) // the removed files' large objects went too
            QCOMPARE(objects().toInt(), objects_before.toInt() + 1);

        // A version that is not (or no longer) published is refused, and nothing changes.
        for (const char* version : {"20", "99"}) {
            const process_result again =
                run(QStringList{"withdraw", "--ver", version} + connection(backend));
            QCOMPARE(again.status, 2);
            QVERIFY2(again.err.contains(QLatin1String("is not published")), qPrintable(again.err));
            QCOMPARE(count(backend, "ver = 21"), QStringLiteral("1"));
        }
        const process_result tidy =
            run(QStringList{"withdraw", "--ver", "21"} + connection(backend));
        QVERIFY2(tidy.status == 0, qPrintable(tidy.err));
    }

    void settings_from_an_encrypted_ini()
    {
        const QString dir = dir_.filePath(QStringLiteral("ini"));
        QVERIFY(QDir().mkpath(dir));
        const process_result w =
            run({"write-ini", dir, "--server", QStringLiteral("sqlite:") + dir_.filePath("u.db"),
                 "--database", "x", "--user", "x", "--password", "x"});
        QVERIFY2(w.status == 0, qPrintable(w.err));
        const process_result list = run({"list", "--ini", dir + "/qorv.ini"});
        QVERIFY2(list.status == 0, qPrintable(list.err));
        QVERIFY(list.out.startsWith(QStringLiteral("version")));
        const process_result missing = run({"list", "--ini", dir + "/absent.ini"});
        QCOMPARE(missing.status, 1);
    }

    void each_postgresql_table_serves_both_forms_data()
    {
        QTest::addColumn<QString>("database"); // made by init through the other form
        QTest::addColumn<QString>("form");
        QTest::newRow("large objects (init through postgresql://), through odbc:")
            << QString::fromLatin1(database_name) << "odbc";
        QTest::newRow("bytea (init through odbc:), through postgresql://")
            << QString::fromLatin1(odbc_database_name) << "postgresql";
    }
    // Whichever form made the table, the other publishes, replaces, lists and reads it.
    void each_postgresql_table_serves_both_forms()
    {
        if (!pg_)
            QSKIP("no PostgreSQL server");
        QFETCH(QString, database);
        QFETCH(QString, form);
        const QString maker =
            form == QLatin1String("odbc") ? QStringLiteral("postgresql") : QStringLiteral("odbc");
        const QString objects = QStringLiteral("select count(*) from pg_largeobject_metadata");
        const QString before = open(maker, database)->select_value(objects).value_or("?");
        const QString file = base() + QStringLiteral("/big.bin");
        const QStringList publish = QStringList{QStringLiteral("publish")} +
                                    connection(form, database) +
                                    QStringList{"--ver", "50.5", "--base", base(), file};
        process_result r = run(publish);
        QVERIFY2(r.status == 0, qPrintable(r.err));
        r = run(publish + QStringList{QStringLiteral("--replace")});
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray contents = f.readAll();
        const QRegularExpression line(
            QStringLiteral("(^|\\n)50\\.5 +1 +%1 +-\\n").arg(contents.size()));
        for (const QString& way : {form, maker}) {
            r = run(QStringList{QStringLiteral("list")} + connection(way, database));
            QVERIFY2(r.status == 0, qPrintable(r.err));
            QVERIFY2(r.out.contains(line), qPrintable(way + QStringLiteral(": ") + r.out));
            QCOMPARE(stored(way, QStringLiteral("big.bin"), QStringLiteral("50.5"), database)
                         .value_or("?"),
                     contents);
        }
        // The replaced value's large object went with it; a bytea value needs none at all.
        auto t = open(maker, database);
        const qint64 added =
            t->select_value(objects).value_or("?").toLongLong() - before.toLongLong();
        QCOMPARE(added, database == QLatin1String(database_name) ? 1 : 0);
        QCOMPARE(t->delete_blob_rows(QStringLiteral("t_file"), QStringLiteral("filedata"),
                                     QStringLiteral("ver = ?"), {QStringLiteral("50.5")}),
                 0L);
        QCOMPARE(t->commit(), 0L);
        QCOMPARE(t->select_value(objects).value_or("?"), before);
    }

    void cleanupTestCase()
    {
        if (!pg_)
            return;
        for (const char* name : {database_name, odbc_database_name})
            qorv::test::drop_database(*pg_, QString::fromLatin1(name));
    }
};

QTEST_GUILESS_MAIN(qorv_admin_test)
#include "qorv_admin_test.moc"
