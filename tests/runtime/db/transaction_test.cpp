// rt::transaction against a real SQLite file and the PostgreSQL server of the test fixture.
// Every backend-dependent table runs each case once per backend; the row name starts with it.

#include "backend_rows.h"
#include "pg_database.h"
#include "random_bytes.h"
#include "tcp_proxy.h"
#include "tds_responder.h"

#include <rt/db/interruption.h>
#include <rt/db/transaction.h>
#include <rt/db/transaction_p.h>

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

using rt::transaction;

namespace {

const char* const database_name = "qorv_transactiontest";
const char* const psqlodbc = "/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so";
constexpr int stall_timeout = 3; // the statement time-out of the stall tests, in seconds

// The rows of t_file every test reads (file contents are added by blob tests).
struct file_row {
    const char* filename;
    const char* ver;
};
const file_row fixture_rows[] = {
    {"a.txt", "1.0"},    {"B.txt", "1.3"},   {"a.txt", "1.3"},  {"sub/z.bin", "1.3"},
    {"中文.txt", "1.3"}, {"old.txt", "9.5"}, {"new.txt", "10"},
};

// A port on the loopback interface where nothing listens: bound once by us, then released.
int unused_port()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        qFatal("cannot bind a port on the loopback interface");
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

// Bytes that differ at every offset for a given size, so that a misplaced piece shows.
QByteArray pattern(qsizetype size)
{
    return qorv::test::random_bytes(size, static_cast<quint32>(size));
}

} // namespace

class transaction_test : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    std::optional<qorv::test::pg_server> pg_;
    QString pg_missing_;

    QStringList backends() const
    {
        QStringList names{QStringLiteral("sqlite")};
        if (pg_)
            names << QStringLiteral("postgresql");
        return names;
    }

    QString sqlite_path() const { return dir_.filePath(QStringLiteral("test.db")); }

    void fill(transaction& t, const QString& backend, const QString& servername,
              const QString& database = QString::fromLatin1(database_name)) const
    {
        t.autocommit = false;
        t.lock = QStringLiteral("RC");
        if (backend == QLatin1String("sqlite")) {
            t.servername =
                servername.isEmpty() ? QStringLiteral("sqlite:") + sqlite_path() : servername;
            t.dbparm = QStringLiteral("timeout = 5");
        } else {
            t.servername = servername.isEmpty() ? pg_->server : servername;
            t.logid = pg_->user;
            t.logpass = pg_->password;
            t.dbparm =
                QStringLiteral("timeout = 5,Database='%1',Provider='SQLNCLI10'").arg(database);
        }
    }

    // A connected transaction on the test database of `backend`.
    std::unique_ptr<transaction> open(const QString& backend) const
    {
        auto t = std::make_unique<transaction>();
        fill(*t, backend, {});
        if (t->connect() != 0)
            qWarning() << "connect" << backend << t->sqlerrtext;
        return t;
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
        pg_ = qorv::test::find_pg_server(&pg_missing_);

        transaction lite;
        fill(lite, QStringLiteral("sqlite"), {});
        lite.dbparm += QStringLiteral(",Create='yes'");
        QCOMPARE(lite.connect(), 0);
        QCOMPARE(lite.execute(QStringLiteral("create table t_file (filename text not null, ver "
                                             "numeric not null, filedata blob, primary key "
                                             "(filename, ver))")),
                 0);
        for (const file_row& r : fixture_rows)
            QCOMPARE(
                lite.execute(QStringLiteral("insert into t_file (filename, ver) values (?, ?)"),
                             {QString::fromUtf8(r.filename), QString::fromLatin1(r.ver)}),
                0);
        QCOMPARE(lite.commit(), 0);

        if (!pg_)
            return;
        // A database of our own, so that other tests on the same server do not interfere.
        transaction admin;
        fill(admin, QStringLiteral("postgresql"), {}, pg_->database);
        admin.autocommit = true; // create database refuses to run inside a transaction
        QVERIFY2(admin.connect() == 0, qPrintable(admin.sqlerrtext));
        QCOMPARE(admin.execute(QStringLiteral("drop database if exists %1").arg(database_name)), 0);
        QCOMPARE(admin.execute(QStringLiteral("create database %1 template template0 encoding "
                                              "'UTF8' lc_collate 'C' lc_ctype 'C'")
                                   .arg(database_name)),
                 0);
        admin.disconnect();
        auto pg = open(QStringLiteral("postgresql"));
        QVERIFY2(pg->connected(), qPrintable(pg->sqlerrtext));
        QCOMPARE(pg->execute(QStringLiteral("create table t_file (filename varchar(255) not null, "
                                            "ver numeric(12,3) not null, filedata oid, primary "
                                            "key (filename, ver))")),
                 0);
        for (const file_row& r : fixture_rows)
            QCOMPARE(pg->execute(QStringLiteral("insert into t_file (filename, ver) values (?, ?)"),
                                 {QString::fromUtf8(r.filename), QString::fromLatin1(r.ver)}),
                     0);
        QCOMPARE(pg->commit(), 0);
    }

    void postgresql_server_is_available()
    {
        if (qEnvironmentVariableIsEmpty("QORV_PG_ENV") &&
            qEnvironmentVariableIsEmpty("QORV_PG_SERVER"))
            QSKIP("no PostgreSQL server configured for this run");
        QVERIFY2(pg_.has_value(), qPrintable(pg_missing_));
    }

    void dbms_kind_follows_server_name_data()
    {
        QTest::addColumn<QString>("servername");
        QTest::addColumn<int>("kind");
        QTest::newRow("sqlite relative") << "sqlite:update.db" << int(rt::dbms_kind::sqlite);
        QTest::newRow("sqlite absolute") << "sqlite:/srv/u.db" << int(rt::dbms_kind::sqlite);
        QTest::newRow("postgresql")
            << "postgresql://db.example:5432" << int(rt::dbms_kind::postgresql);
        QTest::newRow("odbc by driver")
            << "odbc:Driver=PostgreSQL Unicode;Server=h" << int(rt::dbms_kind::odbc);
        QTest::newRow("odbc by dsn") << "ODBC:DSN=exams" << int(rt::dbms_kind::odbc);
        QTest::newRow("plain host") << "db.example" << int(rt::dbms_kind::sqlserver);
        QTest::newRow("host comma port") << "10.0.0.5,1433" << int(rt::dbms_kind::sqlserver);
        QTest::newRow("host instance") << "SRV\\SQLEXPRESS" << int(rt::dbms_kind::sqlserver);
        QTest::newRow("empty") << "" << int(rt::dbms_kind::sqlserver);
    }
    void dbms_kind_follows_server_name()
    {
        QFETCH(QString, servername);
        QFETCH(int, kind);
        QCOMPARE(int(rt::dbms_kind_of(servername)), kind);
    }

    void dbparm_value_data()
    {
        QTest::addColumn<QString>("dbparm");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("present");
        const QString full = QStringLiteral("timeout = 5,Database='exam',Provider='SQLNCLI10'");
        QTest::newRow("database") << full << "Database"
                                  << "exam" << true;
        QTest::newRow("name in other case") << full << "DATABASE"
                                            << "exam" << true;
        QTest::newRow("unquoted with blanks") << full << "timeout"
                                              << "5" << true;
        QTest::newRow("last pair") << full << "provider"
                                   << "SQLNCLI10" << true;
        QTest::newRow("missing") << full << "user"
                                 << "" << false;
        QTest::newRow("quote inside the name")
            << "timeout = 5,Database='exam's db',Provider='SQLNCLI10'"
            << "Database"
            << "exam's db" << true;
        QTest::newRow("quote and comma inside the name")
            << "timeout = 5,Database='a', b',Provider='SQLNCLI10'"
            << "Database"
            << "a', b" << true;
        QTest::newRow("quote at the end of the name") << "Database='exam'',Provider='x'"
                                                      << "Database"
                                                      << "exam'" << true;
        QTest::newRow("quoted last pair with a quote") << "timeout=5,Database='o'neil'"
                                                       << "database"
                                                       << "o'neil" << true;
        QTest::newRow("blanks around names") << "  timeout =  7 ,  Database = 'x y' "
                                             << "database"
                                             << "x y" << true;
        QTest::newRow("empty quoted") << "Database='',timeout=5"
                                      << "Database"
                                      << "" << true;
        QTest::newRow("chinese name") << "Database='考务 库'"
                                      << "Database"
                                      << "考务 库" << true;
        QTest::newRow("empty text") << ""
                                    << "Database"
                                    << "" << false;
        QTest::newRow("unterminated quote") << "Database='abc"
                                            << "Database"
                                            << "abc" << true;
    }
    void dbparm_value()
    {
        QFETCH(QString, dbparm);
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QFETCH(bool, present);
        const QString value = transaction::dbparm_value(dbparm, name);
        QCOMPARE(value.isNull(), !present);
        QCOMPARE(value, expected);
    }

    void connect_timeout_data()
    {
        QTest::addColumn<QString>("dbparm");
        QTest::addColumn<int>("seconds");
        QTest::newRow("given") << "timeout = 12,Database='x'" << 12;
        QTest::newRow("absent") << "Database='x'" << 5;
        QTest::newRow("not a number") << "timeout=soon" << 5;
        QTest::newRow("zero") << "timeout=0" << 5;
    }
    void connect_timeout()
    {
        QFETCH(QString, dbparm);
        QFETCH(int, seconds);
        QCOMPARE(rt::detail::connect_timeout(dbparm), seconds);
    }

    void number_placeholders_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("expected");
        QTest::newRow("two") << "select 1 from t where a = ? and b > ?"
                             << "select 1 from t where a = $1 and b > $2";
        QTest::newRow("in literal") << "select '?' || ? from t"
                                    << "select '?' || $1 from t";
        QTest::newRow("doubled quote") << "select 'it''s ?', ?"
                                       << "select 'it''s ?', $1";
        QTest::newRow("escape string") << "select E'\\'?', ?"
                                       << "select E'\\'?', $1";
        QTest::newRow("quoted identifier") << "select \"a?\" from t where x = ?"
                                           << "select \"a?\" from t where x = $1";
        QTest::newRow("line comment") << "select ? -- why?\n, ?"
                                      << "select $1 -- why?\n, $2";
        QTest::newRow("block comment") << "select /* ? */ ?"
                                       << "select /* ? */ $1";
        QTest::newRow("dollar quote") << "select $$a?b$$, ?"
                                      << "select $$a?b$$, $1";
        QTest::newRow("tagged dollar quote") << "select $t$?$t$, ?"
                                             << "select $t$?$t$, $1";
        QTest::newRow("none") << "select 1"
                              << "select 1";
    }
    void number_placeholders()
    {
        QFETCH(QString, sql);
        QFETCH(QString, expected);
        QCOMPARE(rt::detail::number_placeholders(sql), expected);
    }

    void connect_fails_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("servername");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("database");
        const QString nowhere = QStringLiteral("127.0.0.1:%1").arg(unused_port());
        QTest::newRow("sqlite: missing directory")
            << "sqlite" << QStringLiteral("sqlite:") + dir_.filePath("no/such/dir/u.db") << ""
            << ""
            << "";
        QTest::newRow("sqlite: missing file")
            << "sqlite" << QStringLiteral("sqlite:") + dir_.filePath("absent.db") << ""
            << ""
            << "";
        QTest::newRow("sqlite: not a database")
            << "sqlite" << QStringLiteral("sqlite:") + dir_.filePath("text.db") << ""
            << ""
            << "";
        QTest::newRow("sqlite: no path") << "sqlite"
                                         << "sqlite:"
                                         << ""
                                         << ""
                                         << "";
        QTest::newRow("sqlserver: nothing listening, host comma port")
            << "sqlserver" << QString(nowhere).replace(':', ',') << "sa"
            << "x"
            << "master";
        QTest::newRow("sqlserver: nothing listening, host colon port")
            << "sqlserver" << nowhere << "sa"
            << "x"
            << "master";
        if (!pg_)
            return;
        QTest::newRow("postgresql: wrong password")
            << "postgresql" << pg_->server << pg_->user << "wrong" << pg_->database;
        QTest::newRow("postgresql: unknown user")
            << "postgresql" << pg_->server << "nobody" << pg_->password << pg_->database;
        QTest::newRow("postgresql: unknown database")
            << "postgresql" << pg_->server << pg_->user << pg_->password << "no_such_db";
        QTest::newRow("postgresql: nothing listening")
            << "postgresql" << QStringLiteral("postgresql://") + nowhere << pg_->user
            << pg_->password << pg_->database;
        QTest::newRow("postgresql: no host")
            << "postgresql"
            << "postgresql://" << pg_->user << pg_->password << pg_->database;
    }
    void connect_fails()
    {
        QFETCH(QString, backend);
        QFETCH(QString, servername);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, database);
        QFile text(dir_.filePath("text.db"));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write(QByteArray(4096, 'x'));
        text.close();

        transaction t;
        t.servername = servername;
        t.logid = user;
        t.logpass = password;
        t.dbparm = QStringLiteral("timeout = 5,Database='%1',Provider='SQLNCLI10'").arg(database);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(t.connect(), -1L);
        QVERIFY2(clock.elapsed() < 7000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(t.sqlcode, -1L);
        QVERIFY(!t.sqlerrtext.isEmpty());
        QVERIFY(!t.connected());
        QVERIFY(!t.refused_for_capacity());
        if (backend == QLatin1String("postgresql"))
            QCOMPARE(t.sqldbcode, -1L);
        // Nothing is created by a failed connect, and statements report the missing connection.
        QVERIFY(!QFile::exists(dir_.filePath("absent.db")));
        QCOMPARE(t.execute(QStringLiteral("select 1")), -1L);
        QVERIFY(!t.select_value(QStringLiteral("select 1")).has_value());
        QCOMPARE(t.sqlcode, -1L);
    }

    void sqlserver_login_reaches_the_server_unchanged_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("database");
        QTest::newRow("plain") << "sa"
                               << "secret"
                               << "exam";
        QTest::newRow("closing brace in the password") << "sa"
                                                       << "p;w}d{x=1"
                                                       << "exam";
        QTest::newRow("brace and semicolon") << "sa"
                                             << "a};b"
                                             << "exam";
        QTest::newRow("braces at both ends") << "{sa}"
                                             << "}"
                                             << "{exam}";
        QTest::newRow("quote, equals and blanks") << "o'neil = x"
                                                  << " 'pw' "
                                                  << "exam's db";
        QTest::newRow("chinese") << "考务员"
                                 << "密码};{"
                                 << "考务库";
        QTest::newRow("blanks around the database") << "sa"
                                                    << "pw"
                                                    << " exam db ";
        QTest::newRow("empty password") << "sa"
                                        << ""
                                        << "exam";
    }
    // What the driver puts into the log-in packet is decoded by a stand-in server.
    void sqlserver_login_reaches_the_server_unchanged()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, database);
        qorv::test::tds_responder server;
        transaction t;
        t.servername = QStringLiteral("127.0.0.1,%1").arg(server.port());
        t.logid = user;
        t.logpass = password;
        t.dbparm = QStringLiteral("timeout = 5,Database='%1',Provider='SQLNCLI10'").arg(database);
        QCOMPARE(t.connect(), -1L);
        const auto login = server.login();
        QVERIFY2(login, qPrintable(t.sqlerrtext));
        QCOMPARE(login->server, QStringLiteral("127.0.0.1"));
        QCOMPARE(login->user, user);
        QCOMPARE(login->password, password);
        QCOMPARE(login->database, database);
    }

    // SQL Server's refusal when its user connections are used up is told from other failures.
    void sqlserver_busy_is_a_refusal_for_capacity()
    {
        qorv::test::tds_responder server(qorv::test::tds_responder::mode::busy);
        transaction t;
        t.servername = QStringLiteral("127.0.0.1,%1").arg(server.port());
        t.logid = QStringLiteral("sa");
        t.logpass = QStringLiteral("pw");
        t.dbparm = QStringLiteral("timeout = 5,Database='exam'");
        QCOMPARE(t.connect(), -1L);
        QVERIFY(server.login());
        QCOMPARE(t.sqldbcode, 17809L);
        QVERIFY2(t.refused_for_capacity(), qPrintable(t.sqlerrtext));
        QVERIFY2(t.sqlerrtext.contains(QLatin1String("maximum number")), qPrintable(t.sqlerrtext));
    }

    void odbc_connection_string_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("postgresql");
        QTest::addColumn<QString>("expected");
        const QString pg = QStringLiteral("Driver={PostgreSQL Unicode};Server=h");
        QTest::newRow("postgresql: plain names, password braced, logs off")
            << pg << "exam"
            << "sa"
            << "p+w" << true << pg + ";DATABASE=exam;UID=sa;PWD={p+w};CommLog=0;Debug=0;";
        QTest::newRow("postgresql: semicolon and braces through libpq's options")
            << pg << "{d};e"
            << "a;b"
            << "}" << true
            << pg + ";pqopt={dbname='{d}};e' user='a;b'};PWD={}}};CommLog=0;Debug=0;";
        QTest::newRow("postgresql: quote and backslash quoted for libpq")
            << pg << "exam"
            << "{o'k\\"
            << "" << true << pg + ";DATABASE=exam;pqopt={user='{o\\'k\\\\'};CommLog=0;Debug=0;";
        QTest::newRow("postgresql: blanks at the ends stay plain")
            << pg << " exam "
            << " sa"
            << "" << true << pg + ";DATABASE= exam ;UID= sa;CommLog=0;Debug=0;";
        QTest::newRow("postgresql: the string's own login and log settings win")
            << pg + ";UID=me;CommLog=1;"
            << "exam"
            << "sa"
            << "" << true << pg + ";UID=me;CommLog=1;DATABASE=exam;Debug=0;";
        QTest::newRow("other driver: braces where needed")
            << QStringLiteral("DSN=x") << "a;b"
            << " sa"
            << "pw" << false << "DSN=x;DATABASE={a;b};UID={ sa};PWD=pw;";
    }
    void odbc_connection_string()
    {
        QFETCH(QString, text);
        QFETCH(QString, database);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(bool, postgresql);
        QFETCH(QString, expected);
        QCOMPARE(rt::detail::odbc_connection_string(text, database, user, password, postgresql),
                 expected);
    }

    void postgresql_driver_is_recognised_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("postgresql");
        QTest::newRow("by name") << "Driver={PostgreSQL Unicode};Server=h" << true;
        QTest::newRow("by path") << "Server=h;DRIVER=/usr/lib/odbc/psqlodbcw.so" << true;
        QTest::newRow("other driver") << "Driver=FreeTDS;Server=h" << false;
        QTest::newRow("unknown data source") << "DSN=qorv_no_such_source" << false;
    }
    void postgresql_driver_is_recognised()
    {
        QFETCH(QString, text);
        QFETCH(bool, postgresql);
        QCOMPARE(rt::detail::is_postgresql_driver(text), postgresql);
    }

    // A database name that the driver's connection string cannot carry arrives exactly.
    void odbc_database_name_arrives_exactly()
    {
        if (!pg_)
            QSKIP("no PostgreSQL server");
        const QString name = QStringLiteral("{qorv d};e'x");
        transaction admin;
        fill(admin, QStringLiteral("postgresql"), {}, pg_->database);
        admin.autocommit = true;
        QVERIFY2(admin.connect() == 0, qPrintable(admin.sqlerrtext));
        const QString quoted = QLatin1Char('"') + name + QLatin1Char('"');
        admin.execute(QStringLiteral("drop database if exists ") + quoted);
        QVERIFY2(admin.execute(QStringLiteral("create database ") + quoted) == 0,
                 qPrintable(admin.sqlerrtext));
        {
            transaction t;
            fill(t, QStringLiteral("postgresql"), {}, name);
            t.servername = QStringLiteral("odbc:Driver=%1;Server=127.0.0.1;Port=%2")
                               .arg(QLatin1String(psqlodbc))
                               .arg(QUrl(pg_->server).port());
            QVERIFY2(t.connect() == 0, qPrintable(t.sqlerrtext));
            QCOMPARE(t.select_value(QStringLiteral("select current_database()")).value_or("?"),
                     name);
        }
        QCOMPARE(admin.execute(QStringLiteral("drop database ") + quoted), 0L);
    }

    // The driver reads a database given before the log-in as Latin-1: a name beyond it that
    // needs its blanks is chosen by a statement after the log-in.
    void sqlserver_database_beyond_latin1_arrives_exactly_data()
    {
        QTest::addColumn<QString>("database");
        QTest::newRow("chinese with blanks around") << " 考务 库 ";
        QTest::newRow("closing bracket") << " 考]务 ";
    }
    void sqlserver_database_beyond_latin1_arrives_exactly()
    {
        QFETCH(QString, database);
        qorv::test::tds_responder server(qorv::test::tds_responder::mode::stall_after_login);
        transaction t;
        t.servername = QStringLiteral("127.0.0.1,%1").arg(server.port());
        t.logid = QStringLiteral("sa");
        t.logpass = QStringLiteral("pw");
        t.dbparm = QStringLiteral("timeout = 5,Database='%1'").arg(database);
        QVERIFY2(t.connect() == 0, qPrintable(t.sqlerrtext));
        QString name = database;
        QVERIFY(server.received(
            QStringLiteral("use [%1]").arg(name.replace(u']', QStringLiteral("]]")))));
    }

    void select_value_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QStringList>("params");
        QTest::addColumn<long>("code");
        QTest::addColumn<QString>("expected"); // compared as a number when it is one
        const QString newest =
            QStringLiteral("select ver from t_file where ver > ? order by ver desc limit 1");
        const QString count = QStringLiteral("select count(filename) from t_file where ver = ?");
        auto row = [&](const char* name, const QString& sql, const QStringList& params, long code,
                       const QString& expected) {
            per_backend(name, [&](QTestData& d) { d << sql << params << code << expected; });
        };
        row("newest above 9.5 is 10, not 9.5", newest, {"9.5"}, 0, "10");
        row("newest above 1.3", newest, {"1.3"}, 0, "10");
        row("newest above 0", newest, {"0"}, 0, "10");
        row("nothing above 10", newest, {"10"}, 100, "");
        row("nothing above 10.000", newest, {"10.000"}, 100, "");
        row("nothing above 99", newest, {"99"}, 100, "");
        row("count of 1.3", count, {"1.3"}, 0, "4");
        row("count of 1.300", count, {"1.300"}, 0, "4");
        row("count of 1.30", count, {"1.30"}, 0, "4");
        row("count of 1.301", count, {"1.301"}, 0, "0");
        row("count of 10.0", count, {"10.0"}, 0, "1");
        row("count of 9.50", count, {"9.50"}, 0, "1");
        row("chinese name", QStringLiteral("select filename from t_file where filename like ?"),
            {"中%"}, 0, "中文.txt");
        row("null value", QStringLiteral("select filedata from t_file where filename = ?"),
            {"old.txt"}, 0, QString());
        row("empty text", QStringLiteral("select ''"), {}, 0, QStringLiteral(""));
        row("syntax error", QStringLiteral("selec ver from t_file"), {}, -1, "");
        row("unknown table", QStringLiteral("select ver from no_such_table"), {}, -1, "");
    }
    void select_value()
    {
        QFETCH(QString, backend);
        QFETCH(QString, sql);
        QFETCH(QStringList, params);
        QFETCH(long, code);
        QFETCH(QString, expected);
        auto t = open(backend);
        QVERIFY(t->connected());
        const std::optional<QString> value = t->select_value(sql, params);
        QCOMPARE(t->sqlcode, code);
        QCOMPARE(value.has_value(), code == 0);
        if (code == -1) {
            QVERIFY(!t->sqlerrtext.isEmpty());
            QVERIFY(t->sqldbcode != 0);
            return;
        }
        QCOMPARE(t->sqldbcode, 0L);
        QVERIFY(t->sqlerrtext.isEmpty());
        if (!value)
            return;
        QCOMPARE(value->isNull(), expected.isNull());
        bool numeric = false;
        const double want = expected.toDouble(&numeric);
        if (numeric)
            QCOMPARE(value->toDouble(), want);
        else
            QCOMPARE(*value, expected);
    }

    void postgresql_errors_begin_with_sqlstate_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("state");
        QTest::newRow("syntax error") << "selec 1"
                                      << "42601";
        QTest::newRow("unknown table") << "select * from no_such_table"
                                       << "42P01";
        QTest::newRow("not a number") << "select count(*) from t_file where ver = 'abc'"
                                      << "22P02";
        QTest::newRow("duplicate key") << "insert into t_file (filename, ver) values ('a.txt', 1.0)"
                                       << "23505";
    }
    void postgresql_errors_begin_with_sqlstate()
    {
        if (!pg_)
            QSKIP("no PostgreSQL server");
        QFETCH(QString, sql);
        QFETCH(QString, state);
        auto t = open(QStringLiteral("postgresql"));
        QCOMPARE(t->execute(sql), -1L);
        QCOMPARE(t->sqldbcode, -1L);
        QVERIFY2(t->sqlerrtext.startsWith(state + QStringLiteral(": ")), qPrintable(t->sqlerrtext));
    }

    void errors_leave_the_connection_usable_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("bad");
        per_backend("syntax error", [](QTestData& d) { d << QStringLiteral("selec 1"); });
        per_backend("unknown table",
                    [](QTestData& d) { d << QStringLiteral("delete from no_such_table"); });
        per_backend("duplicate key", [](QTestData& d) {
            d << QStringLiteral("insert into t_file (filename, ver) values ('a.txt', 1.0)");
        });
        per_backend("wrong parameter count",
                    [](QTestData& d) { d << QStringLiteral("select ? , ?"); });
    }
    void errors_leave_the_connection_usable()
    {
        QFETCH(QString, backend);
        QFETCH(QString, bad);
        auto t = open(backend);
        QCOMPARE(t->select_value(QStringLiteral("select count(*) from t_file")).value_or("?"),
                 QString::number(std::size(fixture_rows)));
        QCOMPARE(t->execute(bad, {QStringLiteral("1")}), -1L);
        const auto after = t->select_value(
            QStringLiteral("select count(filename) from t_file where ver = ?"), {"1.3"});
        QVERIFY2(t->sqlcode == 0, qPrintable(t->sqlerrtext));
        QCOMPARE(after.value_or("?"), QStringLiteral("4"));
        QCOMPARE(t->commit(), 0L);
    }

    void cursor_walks_names_in_order_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("ver");
        per_backend("version 1.3", [](QTestData& d) { d << QStringLiteral("1.3"); });
        per_backend("version 1.300", [](QTestData& d) { d << QStringLiteral("1.300"); });
        per_backend("version 10.0", [](QTestData& d) { d << QStringLiteral("10.0"); });
        per_backend("version without files", [](QTestData& d) { d << QStringLiteral("7"); });
    }
    void cursor_walks_names_in_order()
    {
        QFETCH(QString, backend);
        QFETCH(QString, ver);
        // Names of that version in the order of their bytes, independently of the server.
        std::vector<QByteArray> expected;
        for (const file_row& r : fixture_rows)
            if (QString::fromLatin1(r.ver).toDouble() == ver.toDouble())
                expected.emplace_back(r.filename);
        std::sort(expected.begin(), expected.end());

        auto t = open(backend);
        rt::cursor c = t->open_cursor(
            QStringLiteral("select filename from t_file where ver = ? order by filename"), {ver});
        QCOMPARE(t->sqlcode, 0L);
        // Other statements may run while the cursor is open.
        QVERIFY(t->select_value(QStringLiteral("select count(*) from t_file")).has_value());
        for (const QByteArray& name : expected) {
            const auto row = c.fetch();
            QVERIFY(row.has_value());
            QCOMPARE(t->sqlcode, 0L);
            QCOMPARE(row->size(), 1);
            QCOMPARE(row->front().toUtf8(), name);
        }
        QVERIFY(!c.fetch().has_value());
        QCOMPARE(t->sqlcode, 100L);
        QVERIFY(!c.fetch().has_value());
        QCOMPARE(t->sqlcode, 100L);
    }

    void cursor_that_failed_to_open_fails_its_fetches_data()
    {
        QTest::addColumn<QString>("backend");
        per_backend("unknown table", [](QTestData&) {});
    }
    void cursor_that_failed_to_open_fails_its_fetches()
    {
        QFETCH(QString, backend);
        auto t = open(backend);
        rt::cursor c = t->open_cursor(QStringLiteral("select filename from no_such_table"));
        QCOMPARE(t->sqlcode, -1L);
        const QString text = t->sqlerrtext;
        QVERIFY(t->select_value(QStringLiteral("select 1")).has_value()); // status back to 0
        QVERIFY(!c.fetch().has_value());
        QCOMPARE(t->sqlcode, -1L);
        QCOMPARE(t->sqlerrtext, text);
    }

    void blob_reads_back_exactly_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("piece");
        const qint64 sizes[] = {0, 1, 32765, 32766, 3 * 1024 * 1024 + 7};
        const qint64 pieces[] = {1000, 32765, 1024 * 1024 + 3, 8 * 1024 * 1024};
        for (const QString& b : backends())
            for (qint64 size : sizes)
                for (qint64 piece : pieces)
                    QTest::newRow(qPrintable(
                        QStringLiteral("%1: %2 bytes in pieces of %3").arg(b).arg(size).arg(piece)))
                        << b << size << piece;
    }
    void blob_reads_back_exactly()
    {
        QFETCH(QString, backend);
        QFETCH(qint64, size);
        QFETCH(qint64, piece);
        const QByteArray data = pattern(size);
        const QString name = QStringLiteral("blob/%1-%2.bin").arg(size).arg(piece);
        auto t = open(backend);
        {
            auto w =
                t->insert_blob(QStringLiteral("t_file"), {"filename", "ver"},
                               {name, QStringLiteral("2.5")}, QStringLiteral("filedata"), size);
            QVERIFY2(w, qPrintable(t->sqlerrtext));
            // Written in pieces of another size than they are read in.
            for (qsizetype at = 0; at < data.size(); at += 65536) {
                const QByteArray part = data.mid(at, 65536);
                QCOMPARE(w->write(std::as_bytes(std::span(part.constData(), part.size()))), 0L);
            }
            QVERIFY2(w->finish() == 0, qPrintable(t->sqlerrtext));
        }
        QCOMPARE(t->commit(), 0L);

        auto other = open(backend); // a second connection sees the committed value
        auto r = other->open_blob(QStringLiteral("t_file"), QStringLiteral("filedata"),
                                  QStringLiteral("filename = ? and ver = ?"),
                                  {name, QStringLiteral("2.5")});
        QVERIFY2(r, qPrintable(other->sqlerrtext));
        QCOMPARE(other->sqlcode, 0L);
        QVERIFY(!r->is_null());
        QCOMPARE(r->size(), size);
        QByteArray back;
        std::vector<std::byte> buffer(static_cast<std::size_t>(piece));
        for (;;) {
            const std::int64_t n = r->read(buffer);
            QVERIFY2(n >= 0, qPrintable(other->sqlerrtext));
            if (n == 0)
                break;
            QVERIFY(n <= piece);
            back.append(reinterpret_cast<const char*>(buffer.data()), qsizetype(n));
            QVERIFY(back.size() <= size);
        }
        QCOMPARE(back.size(), data.size());
        QVERIFY(back == data);
        QCOMPARE(r->read(buffer), 0); // stays at the end
        r.reset();
        QCOMPARE(other->execute(QStringLiteral("delete from t_file where filename = ?"), {name}),
                 0L);
        QCOMPARE(other->commit(), 0L);
    }

    void blob_without_value_or_row_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("filename");
        QTest::addColumn<QString>("ver");
        QTest::addColumn<long>("code");
        per_backend("null value", [](QTestData& d) {
            d << "old.txt"
              << "9.5" << 0L;
        });
        per_backend("no such file", [](QTestData& d) {
            d << "absent.txt"
              << "9.5" << 100L;
        });
        per_backend("other version", [](QTestData& d) {
            d << "old.txt"
              << "9.51" << 100L;
        });
    }
    void blob_without_value_or_row()
    {
        QFETCH(QString, backend);
        QFETCH(QString, filename);
        QFETCH(QString, ver);
        QFETCH(long, code);
        auto t = open(backend);
        auto r = t->open_blob(QStringLiteral("t_file"), QStringLiteral("filedata"),
                              QStringLiteral("filename = ? and ver = ?"), {filename, ver});
        QCOMPARE(t->sqlcode, code);
        QCOMPARE(r != nullptr, code == 0);
        if (r) {
            QVERIFY(r->is_null());
            QCOMPARE(r->size(), 0);
            std::byte b[16];
            QCOMPARE(r->read(b), 0);
        }
        // The connection goes on working.
        QVERIFY(t->select_value(QStringLiteral("select count(*) from t_file")).has_value());
    }

    void blob_writer_refuses_wrong_amounts_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<qint64>("announced");
        QTest::addColumn<qint64>("written");
        per_backend("more than announced", [](QTestData& d) { d << qint64(10) << qint64(11); });
        per_backend("less than announced", [](QTestData& d) { d << qint64(10) << qint64(9); });
        per_backend("nothing of one byte", [](QTestData& d) { d << qint64(1) << qint64(0); });
    }
    void blob_writer_refuses_wrong_amounts()
    {
        QFETCH(QString, backend);
        QFETCH(qint64, announced);
        QFETCH(qint64, written);
        auto t = open(backend);
        auto w = t->insert_blob(QStringLiteral("t_file"), {"filename", "ver"},
                                {QStringLiteral("amount.bin"), QStringLiteral("3")},
                                QStringLiteral("filedata"), announced);
        QVERIFY(w);
        const QByteArray data = pattern(written);
        const long wrote = w->write(std::as_bytes(std::span(data.constData(), data.size())));
        const long finished = wrote == 0 ? w->finish() : -1;
        QCOMPARE(wrote == 0 && finished == 0, false);
        QCOMPARE(t->sqlcode, -1L);
        QVERIFY(!t->sqlerrtext.isEmpty());
        w.reset();
        QCOMPARE(t->rollback(), 0L);
        QCOMPARE(t->select_value(QStringLiteral("select count(*) from t_file where filename = ?"),
                                 {QStringLiteral("amount.bin")})
                     .value_or("?"),
                 QStringLiteral("0"));
    }

    void sqlite_refuses_values_over_its_limit()
    {
        auto t = open(QStringLiteral("sqlite"));
        const qint64 too_big = 1'000'000'001;
        auto w = t->insert_blob(QStringLiteral("t_file"), {"filename", "ver"},
                                {QStringLiteral("huge.bin"), QStringLiteral("3")},
                                QStringLiteral("filedata"), too_big);
        QVERIFY(!w);
        QCOMPARE(t->sqlcode, -1L);
        QVERIFY2(t->sqlerrtext.contains(QStringLiteral("1000000001")), qPrintable(t->sqlerrtext));
        QCOMPARE(t->select_value(QStringLiteral("select count(*) from t_file where filename = ?"),
                                 {QStringLiteral("huge.bin")})
                     .value_or("?"),
                 QStringLiteral("0"));
    }

    void rollback_discards_inserted_values_data()
    {
        QTest::addColumn<QString>("backend");
        per_backend("one value", [](QTestData&) {});
    }
    void rollback_discards_inserted_values()
    {
        QFETCH(QString, backend);
        const bool pg = backend == QLatin1String("postgresql");
        const QString objects = QStringLiteral("select count(*) from pg_largeobject_metadata");
        auto t = open(backend);
        const QString before = pg ? t->select_value(objects).value_or("?") : QString();
        auto w = t->insert_blob(QStringLiteral("t_file"), {"filename", "ver"},
                                {QStringLiteral("rolled.bin"), QStringLiteral("4")},
                                QStringLiteral("filedata"), 3);
        QVERIFY(w);
        QCOMPARE(w->write(std::as_bytes(std::span("abc", 3))), 0L);
        QCOMPARE(w->finish(), 0L);
        w.reset();
        // Uncommitted: another connection does not see the row yet.
        auto other = open(backend);
        QCOMPARE(other
                     ->select_value(QStringLiteral("select count(*) from t_file where filename "
                                                   "= 'rolled.bin'"))
                     .value_or("?"),
                 QStringLiteral("0"));
        other->disconnect();
        QCOMPARE(t->rollback(), 0L);
        QCOMPARE(t->select_value(QStringLiteral("select count(*) from t_file where filename = "
                                                "'rolled.bin'"))
                     .value_or("?"),
                 QStringLiteral("0"));
        if (pg)
            QCOMPARE(t->select_value(objects).value_or("?"), before);
    }

    void autocommit_makes_each_statement_durable_data()
    {
        QTest::addColumn<QString>("backend");
        per_backend("insert then disconnect", [](QTestData&) {});
    }
    void autocommit_makes_each_statement_durable()
    {
        QFETCH(QString, backend);
        {
            auto t = std::make_unique<transaction>();
            fill(*t, backend, {});
            t->autocommit = true;
            QCOMPARE(t->connect(), 0L);
            QCOMPARE(t->execute(QStringLiteral("insert into t_file (filename, ver) values (?, ?)"),
                                {QStringLiteral("auto.txt"), QStringLiteral("5")}),
                     0L);
            auto w = t->insert_blob(QStringLiteral("t_file"), {"filename", "ver"},
                                    {QStringLiteral("auto.bin"), QStringLiteral("5")},
                                    QStringLiteral("filedata"), 2);
            QVERIFY(w);
            QCOMPARE(w->write(std::as_bytes(std::span("xy", 2))), 0L);
            QCOMPARE(w->finish(), 0L);
            t->disconnect(); // would roll back an open transaction
        }
        auto t = open(backend);
        QCOMPARE(t->select_value(QStringLiteral("select count(*) from t_file where ver = ?"),
                                 {QStringLiteral("5")})
                     .value_or("?"),
                 QStringLiteral("2"));
        auto r = t->open_blob(QStringLiteral("t_file"), QStringLiteral("filedata"),
                              QStringLiteral("filename = ? and ver = ?"),
                              {QStringLiteral("auto.bin"), QStringLiteral("5")});
        QVERIFY(r);
        QCOMPARE(r->size(), 2);
        r.reset();
        QCOMPARE(t->execute(QStringLiteral("delete from t_file where ver = 5")), 0L);
        QCOMPARE(t->commit(), 0L);
    }

    void a_reader_closed_early_leaves_the_connection_usable_data()
    {
        QTest::addColumn<QString>("backend");
        per_backend("a megabyte of five read", [](QTestData&) {});
    }
    void a_reader_closed_early_leaves_the_connection_usable()
    {
        QFETCH(QString, backend);
        const QByteArray data = pattern(5 * 1024 * 1024 + 3);
        auto t = open(backend);
        auto w = t->insert_blob(QStringLiteral("t_file"), {"filename", "ver"},
                                {QStringLiteral("early.bin"), QStringLiteral("7")},
                                QStringLiteral("filedata"), data.size());
        QVERIFY(w);
        QCOMPARE(w->write(std::as_bytes(std::span(data.constData(), data.size()))), 0L);
        QCOMPARE(w->finish(), 0L);
        w.reset();
        auto r = t->open_blob(QStringLiteral("t_file"), QStringLiteral("filedata"),
                              QStringLiteral("filename = ?"), {QStringLiteral("early.bin")});
        QVERIFY2(r, qPrintable(t->sqlerrtext));
        std::vector<std::byte> buffer(1024 * 1024);
        QCOMPARE(r->read(buffer), std::int64_t(buffer.size()));
        QVERIFY(std::memcmp(buffer.data(), data.constData(), buffer.size()) == 0);
        r.reset(); // with pieces still on their way
        QCOMPARE(t->select_value(QStringLiteral("select count(*) from t_file where filename = ?"),
                                 {QStringLiteral("early.bin")})
                     .value_or("?"),
                 QStringLiteral("1"));
        QCOMPARE(t->rollback(), 0L);
    }

    void a_value_changed_while_read_fails_the_read_data()
    {
        QTest::addColumn<QString>("change"); // by another connection, after the first megabyte
        QTest::addColumn<QString>("error");
        QTest::newRow("cut short inside a piece")
            << "select lo_truncate(lo_open(filedata, 131072), 4195304) from t_file where "
               "filename = 'changing.bin'"
            << "ended after 4195304 of 6291456 bytes";
        QTest::newRow("removed")
            << "select lo_unlink(filedata) from t_file where filename = 'changing.bin'"
            << "does not exist";
    }
    // The pieces asked for ahead were read before the change; what follows fails, and never
    // passes for the value's next bytes.
    void a_value_changed_while_read_fails_the_read()
    {
        if (!pg_)
            QSKIP("no PostgreSQL server");
        QFETCH(QString, change);
        QFETCH(QString, error);
        const QByteArray data = pattern(6 * 1024 * 1024);
        auto t = open(QStringLiteral("postgresql"));
        auto w = t->insert_blob(QStringLiteral("t_file"), {"filename", "ver"},
                                {QStringLiteral("changing.bin"), QStringLiteral("8")},
                                QStringLiteral("filedata"), data.size());
        QVERIFY(w);
        QCOMPARE(w->write(std::as_bytes(std::span(data.constData(), data.size()))), 0L);
        QCOMPARE(w->finish(), 0L);
        w.reset();
        QCOMPARE(t->commit(), 0L);

        auto reading = open(QStringLiteral("postgresql"));
        auto r =
            reading->open_blob(QStringLiteral("t_file"), QStringLiteral("filedata"),
                               QStringLiteral("filename = ?"), {QStringLiteral("changing.bin")});
        QVERIFY2(r, qPrintable(reading->sqlerrtext));
        std::vector<std::byte> buffer(1024 * 1024);
        QByteArray back;
        std::int64_t n;
        while ((n = r->read(buffer)) > 0) {
            back.append(reinterpret_cast<const char*>(buffer.data()), qsizetype(n));
            if (back.size() == qsizetype(buffer.size())) {
                QVERIFY2(t->select_value(change), qPrintable(t->sqlerrtext));
                QCOMPARE(t->commit(), 0L);
            }
        }
        QCOMPARE(n, -1);
        QVERIFY2(reading->sqlerrtext.contains(error), qPrintable(reading->sqlerrtext));
        QVERIFY(back.size() < data.size() && back == data.left(back.size()));
        QCOMPARE(r->read(buffer), -1); // and stays failed
        r.reset();
        QCOMPARE(t->execute(QStringLiteral("delete from t_file where filename = ?"),
                            {QStringLiteral("changing.bin")}),
                 0L);
        QCOMPARE(t->commit(), 0L);
    }

    void reader_fails_after_disconnect_data()
    {
        QTest::addColumn<QString>("backend");
        per_backend("read after disconnect", [](QTestData&) {});
    }
    void reader_fails_after_disconnect()
    {
        QFETCH(QString, backend);
        auto t = open(backend);
        auto w = t->insert_blob(QStringLiteral("t_file"), {"filename", "ver"},
                                {QStringLiteral("gone.bin"), QStringLiteral("6")},
                                QStringLiteral("filedata"), 4);
        QVERIFY(w);
        QCOMPARE(w->write(std::as_bytes(std::span("abcd", 4))), 0L);
        QCOMPARE(w->finish(), 0L);
        w.reset();
        auto r = t->open_blob(QStringLiteral("t_file"), QStringLiteral("filedata"),
                              QStringLiteral("filename = ?"), {QStringLiteral("gone.bin")});
        QVERIFY(r);
        t->disconnect();
        std::byte b[4];
        QCOMPARE(r->read(b), -1);
        QCOMPARE(t->sqlcode, -1L);
        r.reset(); // and closing it afterwards is harmless
    }

private:
    // A connection of `form` with a short statement time-out, and how to make its server stop
    // answering: a proxy that stops passing the server's bytes, a stand-in SQL Server that
    // stops answering after the log-in, or another SQLite connection holding the file's lock.
    // The proxy and the stand-in run in this process, so the watchdog of an ODBC connection
    // shuts their sockets down too; the updater's program tests show it on its own.
    struct stalling_server {
        std::unique_ptr<transaction> t = std::make_unique<transaction>();
        std::unique_ptr<qorv::test::tcp_proxy> proxy;
        std::unique_ptr<qorv::test::tds_responder> responder;
        std::unique_ptr<transaction> locker;
        std::function<void()> stall;
        QString statement = QStringLiteral("select count(*) from t_file");
    };

    std::unique_ptr<stalling_server> stalling(const QString& form) const
    {
        auto s = std::make_unique<stalling_server>();
        transaction& t = *s->t;
        const QString timeout = QStringLiteral(",StatementTimeout=%1").arg(stall_timeout);
        if (form == QLatin1String("sqlite")) {
            fill(t, form, {});
            s->locker = open(form);
            s->locker->autocommit = true;
            s->stall = [&s = *s] {
                s.t->rollback(); // their own read locks would keep the lock out
                s.locker->rollback();
                if (s.locker->execute(QStringLiteral("begin exclusive")) != 0)
                    qWarning() << "cannot lock" << s.locker->sqlerrtext;
            };
        } else if (form == QLatin1String("sqlserver")) {
            s->responder = std::make_unique<qorv::test::tds_responder>(
                qorv::test::tds_responder::mode::stall_after_login);
            t.servername = QStringLiteral("127.0.0.1,%1").arg(s->responder->port());
            t.logid = QStringLiteral("sa");
            t.logpass = QStringLiteral("pw");
            t.dbparm = QStringLiteral("timeout = 5,Database='exam'");
            s->statement = QStringLiteral("select 1");
            s->stall = [] {}; // it answers nothing after the log-in anyway
        } else {
            s->proxy = std::make_unique<qorv::test::tcp_proxy>(QUrl(pg_->server).port());
            fill(t, QStringLiteral("postgresql"), {});
            t.servername = form == QLatin1String("odbc")
                               ? QStringLiteral("odbc:Driver=%1;Server=127.0.0.1;Port=%2")
                                     .arg(QLatin1String(psqlodbc))
                                     .arg(s->proxy->port())
                               : QStringLiteral("postgresql://127.0.0.1:%1").arg(s->proxy->port());
            s->stall = [&s = *s] { s.proxy->stall_after(0); };
        }
        t.dbparm += timeout;
        if (t.connect() != 0)
            qWarning() << "connect" << form << t.sqlerrtext;
        return s;
    }

private slots:
    void a_stalled_server_is_left_in_time_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<QString>("step");
        QTest::addColumn<bool>("interrupt"); // a stop request after 300 ms
        QStringList forms{QStringLiteral("sqlite"), QStringLiteral("sqlserver")};
        if (pg_)
            forms << QStringLiteral("postgresql") << QStringLiteral("odbc");
        for (const QString& form : forms) {
            QStringList steps{QStringLiteral("statement")};
            if (form == QLatin1String("postgresql") || form == QLatin1String("odbc"))
                steps << QStringLiteral("rollback of a read");
            for (const QString& step : steps)
                for (const bool interrupt : {false, true})
                    QTest::addRow("%s: %s, %s", qPrintable(form), qPrintable(step),
                                  interrupt ? "stop request" : "time-out")
                        << form << step << interrupt;
        }
    }
    void a_stalled_server_is_left_in_time()
    {
        QFETCH(QString, form);
        QFETCH(QString, step);
        QFETCH(bool, interrupt);
        const auto s = stalling(form);
        transaction& t = *s->t;
        QVERIFY2(t.connected(), qPrintable(t.sqlerrtext));
        if (step == QLatin1String("rollback of a read"))
            QVERIFY2(t.select_value(s->statement), qPrintable(t.sqlerrtext));
        s->stall();
        std::thread stopper;
        if (interrupt)
            stopper = std::thread([] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                rt::interrupt_database_waits();
            });
        QElapsedTimer clock;
        clock.start();
        const long code = step == QLatin1String("statement")
                              ? (t.select_value(s->statement), t.sqlcode)
                              : t.rollback();
        const qint64 elapsed = clock.elapsed();
        if (stopper.joinable())
            stopper.join();
        rt::resume_database_waits();
        QCOMPARE(code, -1L);
        QVERIFY2(t.sqlerrtext.contains(interrupt ? QStringLiteral("interrupted")
                                                 : QStringLiteral("%1 s").arg(stall_timeout)),
                 qPrintable(t.sqlerrtext));
        const qint64 limit = interrupt ? 1300 : stall_timeout * 1000 + 1500;
        QVERIFY2(elapsed < limit && (interrupt || elapsed >= stall_timeout * 1000 - 100),
                 qPrintable(QString::number(elapsed)));
        if (form == QLatin1String("sqlite"))
            return; // its connection stays usable
        // The connection is closed, and what follows says why rather than "not connected".
        const QString text = t.sqlerrtext;
        QVERIFY(!t.connected());
        QVERIFY(!t.select_value(QStringLiteral("select 1")));
        QCOMPARE(t.sqlcode, -1L);
        QCOMPARE(t.sqlerrtext, text);
    }

    void cleanupTestCase()
    {
        if (pg_)
            qorv::test::drop_database(*pg_, QString::fromLatin1(database_name));
    }
};

QTEST_GUILESS_MAIN(transaction_test)
#include "transaction_test.moc"
