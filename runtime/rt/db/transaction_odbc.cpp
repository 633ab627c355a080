// ODBC backend of rt::transaction, through unixODBC: Microsoft SQL Server with the FreeTDS
// driver, or any data source named by an "odbc:" connection string.
// FreeTDS allows one active statement per connection, so queries read all their rows before
// they return, and large values are read with one statement per piece.
// Every driver call that may wait for the server runs under a driver_watchdog: drivers block
// inside themselves, out of reach of any time-out or signal of ours.

#include <rt/db/driver_watchdog.h>
#include <rt/db/interruption.h>
#include <rt/db/private_file.h>
#include <rt/db/transaction_p.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <sql.h>
#include <sqlext.h>

#include <odbcinst.h>

#include <algorithm>
#include <cstring>

namespace rt::detail {

namespace {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "unixODBC's SQLWCHAR is UTF-16");

const SQLWCHAR* wide(const std::u16string& s)
{
    return reinterpret_cast<const SQLWCHAR*>(s.c_str());
}

std::u16string to_u16(const QString& s)
{
    return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), std::size_t(s.size()));
}

bool succeeded(SQLRETURN rc)
{
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

// The first native error number and every diagnostic message of a handle. After a failed
// log-in, `capacity` tells whether any of them says that the server refused for want of capacity.
long diagnostics(transaction& t, SQLSMALLINT type, SQLHANDLE handle, bool* capacity = nullptr)
{
    long native_error = 0;
    QStringList messages;
    if (capacity)
        *capacity = false;
    for (SQLSMALLINT i = 1;; ++i) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLWCHAR text[1024] = {};
        SQLSMALLINT length = 0;
        const SQLRETURN rc = SQLGetDiagRecW(type, handle, i, state, &native, text,
                                            SQLSMALLINT(std::size(text)), &length);
        if (!succeeded(rc))
            break;
        if (native_error == 0)
            native_error = native;
        messages << QString::fromUtf16(reinterpret_cast<const char16_t*>(text),
                                       std::min<qsizetype>(length, std::size(text) - 1));
        if (capacity && capacity_refusal(QStringView(reinterpret_cast<const char16_t*>(state), 5),
                                         native, messages.back()))
            *capacity = true;
    }
    if (messages.isEmpty())
        messages << QStringLiteral("unknown ODBC error");
    return backend::fail(t, native_error != 0 ? native_error : -1,
                         messages.join(QLatin1Char('\n')));
}

// The log files psqlODBC writes for this process: it names them by the process id, and with
// CommLog=0 it still writes one line at disconnect when its driver entry says CommLog=1.
QStringList driver_logs()
{
    const QString pid = QString::number(QCoreApplication::applicationPid());
    return QDir(QStringLiteral("/tmp"))
        .entryList(
            {QStringLiteral("psqlodbc_*%1.log").arg(pid), QStringLiteral("mylog_*%1.log").arg(pid)},
            QDir::Files);
}

struct odbc_session {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    bool connected = false;
    bool cut = false; // the watchdog shut the connection's sockets down
    int timeout = 30;
    driver_watchdog watchdog;
    // psqlODBC's log files that existed before it connected (null: not the PostgreSQL driver).
    std::optional<QStringList> logs_before;

    ~odbc_session()
    {
        if (connected) {
            // Ending a connection waits for the server too: bounded like every call.
            if (cut)
                watchdog.cut();
            watchdog.arm(timeout);
            SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK);
            SQLDisconnect(dbc); // frees every statement of the connection
            watchdog.disarm();
        }
        if (dbc != SQL_NULL_HDBC)
            SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        if (env != SQL_NULL_HENV)
            SQLFreeHandle(SQL_HANDLE_ENV, env);
        if (logs_before)
            for (const QString& name : driver_logs())
                if (!logs_before->contains(name))
                    QFile::remove(QDir(QStringLiteral("/tmp")).filePath(name));
    }
};

// A statement handle, freed when it goes out of scope (unless its connection is gone).
struct statement {
    SQLHSTMT h = SQL_NULL_HSTMT;
    std::weak_ptr<odbc_session> session;
    statement() = default;
    statement(const statement&) = delete;
    statement& operator=(const statement&) = delete;
    ~statement()
    {
        if (h != SQL_NULL_HSTMT && !session.expired())
            SQLFreeHandle(SQL_HANDLE_STMT, h);
    }
};

// Parameters stay in these buffers until the statement has run.
struct parameters {
    std::vector<std::u16string> values;
    std::vector<SQLLEN> lengths;
};

// How a statement's last parameter is given, beside the text parameters.
struct binary_parameter {
    const void* data = nullptr; // null: the bytes are sent at execution (SQLPutData)
    std::int64_t size = -1;     // -1: no such parameter
};

} // namespace

bool is_postgresql_driver(const QString& connection_string)
{
    static const QRegularExpression pair(QStringLiteral("(?:^|;)\\s*(DRIVER|DSN)\\s*=\\s*(\\{[^}]*"
                                                        "\\}|[^;]*)"),
                                         QRegularExpression::CaseInsensitiveOption);
    const auto m = pair.match(connection_string);
    if (!m.hasMatch())
        return false;
    QString value = m.captured(2).trimmed();
    if (value.startsWith(QLatin1Char('{')))
        value = value.mid(1, value.size() - 2);
    if (m.captured(1).compare(QLatin1String("DSN"), Qt::CaseInsensitive) == 0) {
        char driver[512] = {};
        SQLGetPrivateProfileString(value.toUtf8().constData(), "Driver", "", driver, sizeof driver,
                                   "odbc.ini");
        value = QString::fromUtf8(driver);
    }
    return value.contains(QLatin1String("psqlodbc"), Qt::CaseInsensitive) ||
           value.contains(QLatin1String("postgres"), Qt::CaseInsensitive);
}

QString odbc_connection_string(QString text, const QString& database, const QString& user,
                               const QString& password, bool postgresql_driver)
{
    const auto names = [&](const char* key) {
        return text.contains(
            QRegularExpression(QStringLiteral("(^|;)\\s*%1\\s*=").arg(QLatin1String(key)),
                               QRegularExpression::CaseInsensitiveOption));
    };
    // A value in braces, a closing brace doubled, as the ODBC grammar has it.
    const auto braced = [](QString v) {
        v.replace(QLatin1Char('}'), QLatin1String("}}"));
        return QLatin1Char('{') + v + QLatin1Char('}');
    };
    QStringList extra;
    if (postgresql_driver) {
        // The PostgreSQL driver keeps the braces of UID and DATABASE as part of the value and
        // splits at every ';' outside braces, so a name holding ';' or starting with '{' goes
        // through pqopt, the driver's libpq options, where it is quoted as libpq reads it.
        // PWD loses its braces but turns an unbraced '+' into a blank: it is always braced.
        const auto plain = [](const QString& v) {
            return !v.contains(QLatin1Char(';')) && !v.startsWith(QLatin1Char('{'));
        };
        const auto libpq_quoted = [](QString v) {
            v.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
            v.replace(QLatin1Char('\''), QLatin1String("\\'"));
            return QLatin1Char('\'') + v + QLatin1Char('\'');
        };
        QStringList options;
        if (!database.isEmpty() && !names("DATABASE")) {
            if (plain(database) || names("PQOPT"))
                extra << QStringLiteral("DATABASE=") + database;
            else
                options << QStringLiteral("dbname=") + libpq_quoted(database);
        }
        if (!user.isEmpty() && !names("UID")) {
            if (plain(user) || names("PQOPT"))
                extra << QStringLiteral("UID=") + user;
            else
                options << QStringLiteral("user=") + libpq_quoted(user);
        }
        if (!options.isEmpty())
            extra << QStringLiteral("pqopt=") + braced(options.join(QLatin1Char(' ')));
        if (!password.isEmpty() && !names("PWD"))
            extra << QStringLiteral("PWD=") + braced(password);
        // Debian's driver entry switches the driver's logs on for every program.
        if (!names("COMMLOG"))
            extra << QStringLiteral("CommLog=0");
        if (!names("DEBUG"))
            extra << QStringLiteral("Debug=0");
    } else {
        // Braces only where ';' or a leading brace or blank would change the meaning: drivers
        // differ in how they read them, so a value that needs none gets none.
        const auto value = [&](const QString& v) {
            return !v.contains(QLatin1Char(';')) && !v.startsWith(QLatin1Char('{')) &&
                           v.trimmed() == v
                       ? v
                       : braced(v);
        };
        if (!database.isEmpty() && !names("DATABASE"))
            extra << QStringLiteral("DATABASE=") + value(database);
        if (!user.isEmpty() && !names("UID"))
            extra << QStringLiteral("UID=") + value(user);
        if (!password.isEmpty() && !names("PWD"))
            extra << QStringLiteral("PWD=") + value(password);
    }
    if (!extra.isEmpty()) {
        if (!text.isEmpty() && !text.endsWith(QLatin1Char(';')))
            text += QLatin1Char(';');
        text += extra.join(QLatin1Char(';')) + QLatin1Char(';');
    }
    return text;
}

namespace {

class odbc_backend final : public backend {
public:
    using backend::backend;
    ~odbc_backend() override { disconnect(); }

    long connect() override
    {
        const transaction& t = owner();
        auto session = std::make_shared<odbc_session>();
        session->timeout = statement_timeout(t.dbparm);
        if (!succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &session->env)))
            return fail(-1, QStringLiteral("cannot allocate an ODBC environment"));
        SQLSetEnvAttr(session->env, SQL_ATTR_ODBC_VERSION,
                      reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        if (!succeeded(SQLAllocHandle(SQL_HANDLE_DBC, session->env, &session->dbc)))
            return diagnostics(owner(), SQL_HANDLE_ENV, session->env);
        // FreeTDS ignores a time-out in the connection string; only the attribute counts.
        const int login_timeout = connect_timeout(t.dbparm);
        SQLSetConnectAttr(session->dbc, SQL_ATTR_LOGIN_TIMEOUT,
                          reinterpret_cast<SQLPOINTER>(SQLULEN(login_timeout)), 0);
        SQLSetConnectAttr(
            session->dbc, SQL_ATTR_AUTOCOMMIT,
            reinterpret_cast<SQLPOINTER>(t.autocommit ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF), 0);

        // The driver's own log-in time-out ends a silent server first; the watchdog is the
        // bound behind it and the answer to a stop request.
        session->watchdog.begin_connect();
        SQLRETURN rc = SQL_ERROR;
        driver_watchdog::outcome outcome = driver_watchdog::outcome::interrupted;
        if (session->watchdog.arm(login_timeout + 2)) {
            rc = t.kind() == dbms_kind::odbc ? connect_by_string(*session)
                                             : connect_to_sqlserver(*session);
            outcome = session->watchdog.disarm();
        }
        session->watchdog.end_connect();
        if (outcome != driver_watchdog::outcome::answered) {
            session->connected = succeeded(rc);
            session->cut = true;
            return fail(-1, cut_text(outcome, login_timeout));
        }
        if (!succeeded(rc)) {
            bool capacity = false;
            const long code = diagnostics(owner(), SQL_HANDLE_DBC, session->dbc, &capacity);
            return capacity ? refused_for_capacity(owner().sqldbcode, owner().sqlerrtext) : code;
        }
        session->connected = true;
        session_ = std::move(session);
        const auto set = guarded([&] {
            return SQLSetConnectAttr(session_->dbc, SQL_ATTR_TXN_ISOLATION,
                                     reinterpret_cast<SQLPOINTER>(SQL_TXN_READ_COMMITTED), 0);
        });
        if (!set)
            return -1;
        if (!succeeded(*set)) {
            const long code = diagnostics(owner(), SQL_HANDLE_DBC, session_->dbc);
            session_.reset();
            return code;
        }
        SQLWCHAR name[256] = {};
        SQLSMALLINT length = 0;
        SQLGetInfoW(session_->dbc, SQL_DBMS_NAME, name, sizeof name, &length);
        const QString dbms = QString::fromUtf16(reinterpret_cast<const char16_t*>(name));
        dialect_ = dbms.contains(QLatin1String("SQL Server"), Qt::CaseInsensitive) ||
                           t.kind() == dbms_kind::sqlserver
                       ? sql_dialect::tsql
                       : sql_dialect::standard;
        postgresql_ = dbms.contains(QLatin1String("PostgreSQL"), Qt::CaseInsensitive);
        if (!use_database_.isEmpty()) {
            QString quoted = use_database_;
            if (execute(QStringLiteral("use [%1]")
                            .arg(quoted.replace(QLatin1Char(']'), QLatin1String("]]"))),
                        {}) < 0) {
                session_.reset();
                return -1;
            }
        }
        return ok();
    }

    sql_dialect dialect() const override { return dialect_; }

    void disconnect() override { session_.reset(); }
    bool connected() const override { return session_ != nullptr; }

    long execute(const QString& sql, const QStringList& params) override
    {
        statement stmt;
        parameters buffers;
        if (run(stmt, sql, params, buffers) < 0)
            return -1;
        return ok();
    }

    long query(const QString& sql, const QStringList& params, std::vector<QStringList>& rows,
               std::size_t max_rows) override
    {
        statement stmt;
        parameters buffers;
        if (run(stmt, sql, params, buffers) < 0)
            return -1;
        SQLSMALLINT columns = 0;
        SQLNumResultCols(stmt.h, &columns);
        for (;;) {
            const auto rc = guarded([&] { return SQLFetch(stmt.h); });
            if (!rc)
                return -1;
            if (*rc == SQL_NO_DATA)
                break;
            if (!succeeded(*rc))
                return diagnostics(owner(), SQL_HANDLE_STMT, stmt.h);
            if (rows.size() >= max_rows)
                continue;
            QStringList row;
            for (SQLUSMALLINT c = 1; c <= SQLUSMALLINT(columns); ++c) {
                QString value;
                if (column_text(stmt.h, c, value) < 0)
                    return -1;
                row << value;
            }
            rows.push_back(std::move(row));
        }
        return ok();
    }

    blob_storage storage(const QString& table, const QString& column) override
    {
        return postgresql_ ? postgresql_storage(table, column) : blob_storage::bytes;
    }
    std::unique_ptr<blob_reader> open_blob(const QString& table, const QString& column,
                                           const QString& where,
                                           const QStringList& params) override;
    std::unique_ptr<blob_writer> insert_blob(const QString& table, const QStringList& columns,
                                             const QStringList& values, const QString& blob_column,
                                             std::int64_t size) override;

    long commit() override { return end(SQL_COMMIT); }
    long rollback() override { return end(SQL_ROLLBACK); }

    // "odbc:CONNECTION-STRING": any data source, by driver or DSN. The login and the database
    // of the connection fields are added unless the string names its own.
    SQLRETURN connect_by_string(odbc_session& session)
    {
        const transaction& t = owner();
        const QString text = t.servername.trimmed().mid(int(std::strlen("odbc:")));
        const bool postgresql = is_postgresql_driver(text);
        if (postgresql)
            session.logs_before = driver_logs();
        const std::u16string conn = to_u16(odbc_connection_string(
            text, transaction::dbparm_value(t.dbparm, QStringLiteral("Database")), t.logid,
            t.logpass, postgresql));
        return SQLDriverConnectW(session.dbc, nullptr, const_cast<SQLWCHAR*>(wide(conn)),
                                 SQLSMALLINT(conn.size()), nullptr, 0, nullptr,
                                 SQL_DRIVER_NOPROMPT);
    }

    // SQL Server through FreeTDS. FreeTDS ends a braced value at the first "};" and keeps a
    // doubled brace as two, so no connection string can carry every password. The login and
    // password therefore go as the arguments of SQLConnect, the database as the current
    // catalogue, and only the host and port through a data source written for this connection.
    SQLRETURN connect_to_sqlserver(odbc_session& session)
    {
        const transaction& t = owner();
        // "host", "host,port" or "host:port" (an instance name "host\instance" is passed on).
        QString host = t.servername.trimmed();
        QString port;
        const qsizetype sep = std::max(
            host.lastIndexOf(QLatin1Char(',')),
            host.count(QLatin1Char(':')) == 1 ? host.indexOf(QLatin1Char(':')) : qsizetype(-1));
        if (sep >= 0) {
            port = host.mid(sep + 1).trimmed();
            host = host.left(sep).trimmed();
        }
        if (port.isEmpty() && !host.contains(QLatin1Char('\\')))
            port = QStringLiteral("1433");
        // The driver manager caches what it reads of data sources for a while by their name, so
        // every connection names its own.
        const QString name =
            QStringLiteral("qorv_%1").arg(QRandomGenerator::global()->generate64(), 0, 36);
        QString source = QStringLiteral("[%1]\nDriver = FreeTDS\nServer = %2\n"
                                        "TDS_Version = 7.3\nClientCharset = UTF-8\n")
                             .arg(name, host);
        if (!port.isEmpty())
            source += QStringLiteral("Port = %1\n").arg(port);
        // The driver reads the data source in the client character set, so the database goes
        // there; only a name with blanks at its ends (which the file would trim) goes as the
        // current catalogue instead. The driver reads that attribute as Latin-1 before it
        // connects, so a name beyond Latin-1 is chosen by a statement once connected.
        const QString database = transaction::dbparm_value(t.dbparm, QStringLiteral("Database"));
        const std::u16string catalog = to_u16(database);
        if (database.trimmed() != database) {
            if (std::all_of(database.begin(), database.end(),
                            [](QChar c) { return c.unicode() <= 0xff; }))
                SQLSetConnectAttrW(session.dbc, SQL_ATTR_CURRENT_CATALOG,
                                   const_cast<SQLWCHAR*>(wide(catalog)), SQL_NTS);
            else
                use_database_ = database;
        } else if (!database.isEmpty()) {
            source += QStringLiteral("Database = %1\n").arg(database);
        }
        // A file that exists for this process only, and nowhere on disk where possible: a
        // signal during the log-in leaves nothing behind.
        const private_file ini(source.toUtf8());
        if (ini.path().isEmpty())
            return SQL_ERROR;

        // The driver manager and the driver read the data source while connecting only.
        const QByteArray previous = qgetenv("ODBCINI");
        const bool had_previous = qEnvironmentVariableIsSet("ODBCINI");
        qputenv("ODBCINI", QFile::encodeName(ini.path()));
        const std::u16string dsn = to_u16(name);
        const std::u16string user = to_u16(t.logid);
        const std::u16string password = to_u16(t.logpass);
        const SQLRETURN rc =
            SQLConnectW(session.dbc, const_cast<SQLWCHAR*>(wide(dsn)), SQLSMALLINT(dsn.size()),
                        const_cast<SQLWCHAR*>(wide(user)), SQLSMALLINT(user.size()),
                        const_cast<SQLWCHAR*>(wide(password)), SQLSMALLINT(password.size()));
        if (had_previous)
            qputenv("ODBCINI", previous);
        else
            qunsetenv("ODBCINI");
        return rc;
    }

    // Runs one driver call that may wait for the server under the watchdog. std::nullopt, with
    // the status set and the connection closed, when the watchdog had to cut it.
    template <typename F> std::optional<SQLRETURN> guarded(F&& call)
    {
        odbc_session& session = *session_;
        if (!session.watchdog.arm(session.timeout)) {
            session.cut = true;
            return lost(driver_watchdog::outcome::interrupted);
        }
        const SQLRETURN rc = call();
        if (const auto outcome = session.watchdog.disarm();
            outcome != driver_watchdog::outcome::answered) {
            session.cut = true;
            return lost(outcome);
        }
        return rc;
    }

    // Prepares and runs a statement with text parameters, and a last binary one if given.
    // Returns 0, SQL_NEED_DATA when the binary parameter is sent at execution, or -1.
    long run(statement& stmt, const QString& sql, const QStringList& params, parameters& buffers,
             binary_parameter binary = {})
    {
        stmt.session = session_;
        if (!succeeded(SQLAllocHandle(SQL_HANDLE_STMT, session_->dbc, &stmt.h)))
            return diagnostics(owner(), SQL_HANDLE_DBC, session_->dbc);
        const std::u16string text = to_u16(sql);
        const auto prepared = guarded([&] {
            return SQLPrepareW(stmt.h, const_cast<SQLWCHAR*>(wide(text)), SQLINTEGER(text.size()));
        });
        if (!prepared)
            return -1;
        if (!succeeded(*prepared))
            return diagnostics(owner(), SQL_HANDLE_STMT, stmt.h);
        buffers.values.reserve(std::size_t(params.size()));
        buffers.lengths.resize(std::size_t(params.size()) + 1);
        for (qsizetype i = 0; i < params.size(); ++i) {
            buffers.values.push_back(to_u16(params.at(i)));
            const std::u16string& v = buffers.values.back();
            SQLLEN& length = buffers.lengths[std::size_t(i)];
            length = params.at(i).isNull() ? SQL_NULL_DATA : SQLLEN(v.size() * sizeof(char16_t));
            const SQLULEN column_size = std::max<SQLULEN>(v.size(), 1);
            const SQLRETURN rc =
                SQLBindParameter(stmt.h, SQLUSMALLINT(i + 1), SQL_PARAM_INPUT, SQL_C_WCHAR,
                                 column_size > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR, column_size,
                                 0, const_cast<char16_t*>(v.c_str()), length, &length);
            if (!succeeded(rc))
                return diagnostics(owner(), SQL_HANDLE_STMT, stmt.h);
        }
        if (binary.size >= 0) {
            SQLLEN& length = buffers.lengths.back();
            length = binary.data ? SQLLEN(binary.size) : SQL_LEN_DATA_AT_EXEC(SQLLEN(binary.size));
            const SQLRETURN rc = SQLBindParameter(
                stmt.h, SQLUSMALLINT(params.size() + 1), SQL_PARAM_INPUT, SQL_C_BINARY,
                SQL_LONGVARBINARY, SQLULEN(std::max<std::int64_t>(binary.size, 1)), 0,
                binary.data ? const_cast<void*>(binary.data) : reinterpret_cast<SQLPOINTER>(1),
                binary.data ? SQLLEN(binary.size) : 0, &length);
            if (!succeeded(rc))
                return diagnostics(owner(), SQL_HANDLE_STMT, stmt.h);
        }
        const auto rc = guarded([&] { return SQLExecute(stmt.h); });
        if (!rc)
            return -1;
        if (*rc == SQL_NEED_DATA)
            return SQL_NEED_DATA;
        if (!succeeded(*rc) && *rc != SQL_NO_DATA)
            return diagnostics(owner(), SQL_HANDLE_STMT, stmt.h);
        return 0;
    }

    // One column of the current row as text, read in pieces of any length.
    long column_text(SQLHSTMT stmt, SQLUSMALLINT column, QString& value)
    {
        std::u16string text;
        char16_t piece[2048];
        for (;;) {
            SQLLEN length = 0;
            const auto rc = guarded([&] {
                return SQLGetData(stmt, column, SQL_C_WCHAR, piece, sizeof piece, &length);
            });
            if (!rc)
                return -1;
            if (*rc == SQL_NO_DATA)
                break;
            if (!succeeded(*rc))
                return diagnostics(owner(), SQL_HANDLE_STMT, stmt);
            if (length == SQL_NULL_DATA) {
                value = QString();
                return 0;
            }
            // A full piece (minus its terminator) when more follows, else what is left.
            const std::size_t capacity = std::size(piece) - 1;
            const std::size_t n = (length == SQL_NO_TOTAL || std::size_t(length) / 2 > capacity)
                                      ? capacity
                                      : std::size_t(length) / 2;
            text.append(piece, n);
            if (*rc == SQL_SUCCESS)
                break;
        }
        value = QString::fromUtf16(text.data(), qsizetype(text.size()));
        if (value.isNull())
            value = QString(QLatin1String(""));
        return 0;
    }

    // The first column of the one row of a query as bytes, into `out`; -1 on failure. A query
    // without a row gives -1 with `missing` text.
    long bytes_of(const QString& sql, const QStringList& params, QByteArray& out,
                  const QString& missing)
    {
        statement stmt;
        parameters buffers;
        if (run(stmt, sql, params, buffers) < 0)
            return -1;
        const auto fetched = guarded([&] { return SQLFetch(stmt.h); });
        if (!fetched)
            return -1;
        if (*fetched == SQL_NO_DATA)
            return fail(-1, missing);
        if (!succeeded(*fetched))
            return diagnostics(owner(), SQL_HANDLE_STMT, stmt.h);
        out.clear();
        qsizetype filled = 0;
        for (;;) {
            if (out.size() - filled < 65536)
                out.resize(std::max<qsizetype>(out.size() * 2, filled + 65536));
            SQLLEN length = 0;
            const auto rc = guarded([&] {
                return SQLGetData(stmt.h, 1, SQL_C_BINARY, out.data() + filled,
                                  SQLLEN(out.size() - filled), &length);
            });
            if (!rc)
                return -1;
            if (*rc == SQL_NO_DATA)
                break;
            if (!succeeded(*rc))
                return diagnostics(owner(), SQL_HANDLE_STMT, stmt.h);
            if (length == SQL_NULL_DATA)
                break;
            const qsizetype room = out.size() - filled;
            filled += (length == SQL_NO_TOTAL || length > room) ? room : qsizetype(length);
            if (*rc == SQL_SUCCESS)
                break;
        }
        out.resize(filled);
        return ok();
    }

    std::shared_ptr<odbc_session> session_;

private:
    // Closes a connection that the watchdog cut, and reports why.
    std::nullopt_t lost(driver_watchdog::outcome outcome)
    {
        const int seconds = session_->timeout;
        session_.reset();
        fail(-1, cut_text(outcome, seconds));
        return std::nullopt;
    }

    static QString cut_text(driver_watchdog::outcome outcome, int seconds)
    {
        return outcome == driver_watchdog::outcome::timed_out
                   ? QStringLiteral("HYT00: ") + timed_out_text(seconds)
                   : QStringLiteral("HY008: ") + interrupted_text();
    }

    long end(SQLSMALLINT how)
    {
        const auto rc = guarded([&] { return SQLEndTran(SQL_HANDLE_DBC, session_->dbc, how); });
        if (!rc)
            return -1;
        if (!succeeded(*rc))
            return diagnostics(owner(), SQL_HANDLE_DBC, session_->dbc);
        return ok();
    }

    sql_dialect dialect_ = sql_dialect::standard;
    bool postgresql_ = false;
    QString use_database_; // chosen by a statement after the log-in
};

long closed(transaction& t)
{
    return backend::fail(t, -1, QStringLiteral("the connection was closed"));
}

// Reads a value with one statement per piece, so that no driver holds more than a piece of it.
class odbc_blob_reader final : public blob_reader {
public:
    // Each piece is a query of `piece_sql` whose first two markers take the piece's offset
    // (counted from 1) and length, followed by `params`; for a large object `params` holds its
    // oid and the markers take the oid, the offset (from 0) and the length.
    odbc_blob_reader(odbc_backend& backend, QString piece_sql, QStringList params,
                     std::int64_t size, bool null, bool large_object)
        : owner_(backend.owner()), backend_(&backend), session_(backend.session_),
          piece_sql_(std::move(piece_sql)), params_(std::move(params)), size_(size), null_(null),
          large_object_(large_object)
    {
    }
    std::int64_t size() const override { return size_; }
    bool is_null() const override { return null_; }

    std::int64_t read(std::span<std::byte> buffer) override
    {
        if (null_ || buffer.empty() || offset_ >= size_)
            return 0;
        if (session_.expired())
            return closed(owner_);
        std::size_t done = 0;
        while (done < buffer.size() && offset_ < size_) {
            if (start_ == piece_.size()) {
                const std::int64_t want = std::min(blob_piece, size_ - offset_);
                const QStringList params =
                    large_object_
                        ? QStringList{params_.front(), QString::number(offset_),
                                      QString::number(want)}
                        : QStringList{QString::number(offset_ + 1), QString::number(want)} +
                              params_;
                if (backend_->bytes_of(piece_sql_, params, piece_,
                                       QStringLiteral("the row of the value is gone")) < 0)
                    return -1;
                start_ = 0;
                if (piece_.isEmpty())
                    return backend::fail(owner_, -1,
                                         QStringLiteral("the value ended after %1 of %2 bytes")
                                             .arg(offset_)
                                             .arg(size_));
            }
            const std::size_t n =
                std::min(buffer.size() - done, std::size_t(piece_.size() - start_));
            std::memcpy(buffer.data() + done, piece_.constData() + start_, n);
            start_ += qsizetype(n);
            done += n;
            offset_ += std::int64_t(n);
        }
        backend::ok(owner_);
        return std::int64_t(done);
    }

private:
    transaction& owner_;
    odbc_backend* backend_; // valid while session_ is
    std::weak_ptr<odbc_session> session_;
    QString piece_sql_;
    QStringList params_; // the condition's, or the large object's oid
    std::int64_t size_;
    bool null_;
    bool large_object_;
    std::int64_t offset_ = 0;
    QByteArray piece_;
    qsizetype start_ = 0;
};

std::unique_ptr<blob_reader> odbc_backend::open_blob(const QString& table, const QString& column,
                                                     const QString& where,
                                                     const QStringList& params)
{
    const blob_storage kind = storage(table, column);
    if (kind == blob_storage::unknown)
        return nullptr;
    std::vector<QStringList> rows;
    if (kind == blob_storage::large_object) {
        if (query(QStringLiteral("select %1, %2 from %3 where %4")
                      .arg(column, large_object_size_sql(column), table, where),
                  params, rows, 1) < 0)
            return nullptr;
        if (rows.empty()) {
            ok(100);
            return nullptr;
        }
        const bool null = rows.front().at(0).isNull();
        ok();
        return std::make_unique<odbc_blob_reader>(
            *this,
            QStringLiteral("select lo_get(cast(? as oid), cast(? as bigint), cast(? as "
                           "integer))"),
            QStringList{rows.front().at(0)}, null ? 0 : rows.front().at(1).toLongLong(), null,
            true);
    }
    const bool tsql = dialect_ == sql_dialect::tsql;
    const QString size = tsql ? QStringLiteral("cast(datalength(%1) as bigint)").arg(column)
                              : QStringLiteral("octet_length(%1)").arg(column);
    if (query(QStringLiteral("select %1 from %2 where %3").arg(size, table, where), params, rows,
              1) < 0)
        return nullptr;
    if (rows.empty()) {
        ok(100);
        return nullptr;
    }
    const bool null = rows.front().at(0).isNull();
    const QString piece =
        tsql ? QStringLiteral("select substring(%1, cast(? as bigint), cast(? as bigint)) from "
                              "%2 where %3")
             : QStringLiteral("select substring(%1 from cast(? as integer) for cast(? as "
                              "integer)) from %2 where %3");
    ok();
    return std::make_unique<odbc_blob_reader>(*this, piece.arg(column, table, where), params,
                                              null ? 0 : rows.front().at(0).toLongLong(), null,
                                              false);
}

class odbc_blob_writer final : public blob_writer {
public:
    // A value sent at execution of its insert statement (stmt), or, with an oid, written into
    // a large object whose row exists already.
    odbc_blob_writer(odbc_backend& backend, SQLHSTMT stmt, parameters buffers, std::int64_t size,
                     QString oid)
        : owner_(backend.owner()), backend_(&backend), session_(backend.session_), stmt_(stmt),
          buffers_(std::move(buffers)), size_(size), oid_(std::move(oid))
    {
    }
    ~odbc_blob_writer() override
    {
        if (stmt_ != SQLHSTMT{} && !session_.expired()) {
            backend_->guarded([&] { return SQLCancel(stmt_); });
            if (!session_.expired())
                SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
        }
    }

    long write(std::span<const std::byte> data) override
    {
        if (session_.expired() || done_)
            return closed(owner_);
        if (std::int64_t(data.size()) > size_ - offset_)
            return backend::fail(
                owner_, -1, QStringLiteral("more bytes written than the %1 announced").arg(size_));
        while (!data.empty()) {
            const std::size_t n = std::min(data.size(), std::size_t(blob_piece));
            if (!oid_.isNull()) {
                statement stmt;
                parameters buffers;
                if (backend_->run(stmt,
                                  QStringLiteral("select lo_put(cast(? as oid), cast(? as "
                                                 "bigint), ?)"),
                                  {oid_, QString::number(offset_)}, buffers,
                                  {data.data(), std::int64_t(n)}) < 0)
                    return -1;
            } else {
                const auto rc = backend_->guarded([&] {
                    return SQLPutData(stmt_, const_cast<std::byte*>(data.data()), SQLLEN(n));
                });
                if (!rc)
                    return -1;
                if (!succeeded(*rc))
                    return diagnostics(owner_, SQL_HANDLE_STMT, stmt_);
            }
            offset_ += std::int64_t(n);
            data = data.subspan(n);
        }
        return backend::ok(owner_);
    }

    long finish() override
    {
        if (session_.expired() || done_)
            return closed(owner_);
        if (offset_ != size_)
            return backend::fail(
                owner_, -1,
                QStringLiteral("%1 of %2 announced bytes written").arg(offset_).arg(size_));
        done_ = true;
        if (!oid_.isNull())
            return backend::ok(owner_);
        if (size_ == 0) {
            static char nothing = 0;
            const auto rc = backend_->guarded([&] { return SQLPutData(stmt_, &nothing, 0); });
            if (!rc)
                return -1;
            if (!succeeded(*rc))
                return diagnostics(owner_, SQL_HANDLE_STMT, stmt_);
        }
        SQLPOINTER token = nullptr;
        const auto rc = backend_->guarded([&] { return SQLParamData(stmt_, &token); });
        if (!rc)
            return -1;
        if (!succeeded(*rc) && *rc != SQL_NO_DATA)
            return diagnostics(owner_, SQL_HANDLE_STMT, stmt_);
        return backend::ok(owner_);
    }

private:
    transaction& owner_;
    odbc_backend* backend_; // valid while session_ is
    std::weak_ptr<odbc_session> session_;
    SQLHSTMT stmt_;
    parameters buffers_; // bound to the statement until it has run
    std::int64_t size_;
    QString oid_; // null unless the value is a large object
    std::int64_t offset_ = 0;
    bool done_ = false;
};

std::unique_ptr<blob_writer>
odbc_backend::insert_blob(const QString& table, const QStringList& columns,
                          const QStringList& values, const QString& blob_column, std::int64_t size)
{
    const blob_storage kind = storage(table, blob_column);
    if (kind == blob_storage::unknown)
        return nullptr;
    if (kind == blob_storage::large_object) {
        // Created inside the transaction, so that a rollback removes the object with the row.
        std::vector<QStringList> rows;
        if (query(QStringLiteral("select lo_create(0)"), {}, rows, 1) < 0)
            return nullptr;
        const QString oid = rows.front().front();
        QStringList params = values;
        params << oid;
        if (execute(insert_statement(table, columns, blob_column, QStringLiteral("cast(? as oid)")),
                    params) < 0)
            return nullptr;
        ok();
        return std::make_unique<odbc_blob_writer>(*this, SQLHSTMT{}, parameters{}, size, oid);
    }
    statement stmt;
    parameters buffers;
    const QString sql = insert_statement(table, columns, blob_column, QStringLiteral("?"));
    const long rc = run(stmt, sql, values, buffers, {nullptr, size});
    if (rc < 0)
        return nullptr;
    if (rc != SQL_NEED_DATA) {
        fail(-1, QStringLiteral("the driver did not ask for the value's data"));
        return nullptr;
    }
    // Start sending the value: the driver asks for the one parameter given at execution.
    SQLPOINTER token = nullptr;
    const auto asked = guarded([&] { return SQLParamData(stmt.h, &token); });
    if (!asked)
        return nullptr;
    if (*asked != SQL_NEED_DATA) {
        diagnostics(owner(), SQL_HANDLE_STMT, stmt.h);
        return nullptr;
    }
    ok();
    return std::make_unique<odbc_blob_writer>(*this, std::exchange(stmt.h, SQLHSTMT{}),
                                              std::move(buffers), size, QString());
}

} // namespace

std::unique_ptr<backend> make_odbc_backend(transaction& owner)
{
    return std::make_unique<odbc_backend>(owner);
}

} // namespace rt::detail
