// ODBC backend of rt::transaction, through unixODBC: Microsoft SQL Server with the FreeTDS
// driver, or any data source named by an "odbc:" connection string.
// FreeTDS allows one active statement per connection, so queries read all their rows before
// they return, and large values are read with one statement per piece.
// Every driver call that may wait for the server runs under a driver_watchdog: drivers block
// inside themselves, out of reach of any time-out or signal of ours.
// Large values: transaction_odbc_blob.cpp; the connection string: odbc_connection_string.cpp.

#include "transaction_odbc_p.h"

#include <rt/db/interruption.h>
#include <rt/db/private_file.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cstring>

namespace rt::detail::odbc {

long diagnostics(transaction& t, SQLSMALLINT type, SQLHANDLE handle, bool* capacity)
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

namespace {

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

} // namespace

odbc_session::~odbc_session()
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

long odbc_backend::connect()
{
    const transaction& t = owner();
    auto session = std::make_shared<odbc_session>();
    session->timeout = statement_timeout(t.dbparm);
    if (!succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &session->env)))
        return fail(-1, QStringLiteral("cannot allocate an ODBC environment"));
    SQLSetEnvAttr(session->env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                  0);
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

long odbc_backend::execute(const QString& sql, const QStringList& params)
{
    statement stmt;
    parameters buffers;
    if (run(stmt, sql, params, buffers) < 0)
        return -1;
    return ok();
}

long odbc_backend::query(const QString& sql, const QStringList& params,
                         std::vector<QStringList>& rows, std::size_t max_rows)
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

// "odbc:CONNECTION-STRING": any data source, by driver or DSN. The login and the database
// of the connection fields are added unless the string names its own.
SQLRETURN odbc_backend::connect_by_string(odbc_session& session)
{
    const transaction& t = owner();
    const QString text = t.servername.trimmed().mid(int(std::strlen("odbc:")));
    const bool postgresql = is_postgresql_driver(text);
    if (postgresql)
        session.logs_before = driver_logs();
    const std::u16string conn = to_u16(odbc_connection_string(
        text, transaction::dbparm_value(t.dbparm, QStringLiteral("Database")), t.logid, t.logpass,
        postgresql));
    return SQLDriverConnectW(session.dbc, nullptr, const_cast<SQLWCHAR*>(wide(conn)),
                             SQLSMALLINT(conn.size()), nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
}

// SQL Server through FreeTDS. FreeTDS ends a braced value at the first "};" and keeps a
// doubled brace as two, so no connection string can carry every password. The login and
// password therefore go as the arguments of SQLConnect, the database as the current
// catalogue, and only the host and port through a data source written for this connection.
SQLRETURN odbc_backend::connect_to_sqlserver(odbc_session& session)
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

long odbc_backend::run(statement& stmt, const QString& sql, const QStringList& params,
                       parameters& buffers, binary_parameter binary)
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
                             column_size > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR, column_size, 0,
                             const_cast<char16_t*>(v.c_str()), length, &length);
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
long odbc_backend::column_text(SQLHSTMT stmt, SQLUSMALLINT column, QString& value)
{
    std::u16string text;
    char16_t piece[2048];
    for (;;) {
        SQLLEN length = 0;
        const auto rc = guarded(
            [&] { return SQLGetData(stmt, column, SQL_C_WCHAR, piece, sizeof piece, &length); });
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

long odbc_backend::bytes_of(const QString& sql, const QStringList& params, QByteArray& out,
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

// Closes a connection that the watchdog cut, and reports why.
std::nullopt_t odbc_backend::lost(driver_watchdog::outcome outcome)
{
    const int seconds = session_->timeout;
    session_.reset();
    fail(-1, cut_text(outcome, seconds));
    return std::nullopt;
}

QString odbc_backend::cut_text(driver_watchdog::outcome outcome, int seconds)
{
    return outcome == driver_watchdog::outcome::timed_out
               ? QStringLiteral("HYT00: ") + timed_out_text(seconds)
               : QStringLiteral("HY008: ") + interrupted_text();
}

long odbc_backend::end(SQLSMALLINT how)
{
    const auto rc = guarded([&] { return SQLEndTran(SQL_HANDLE_DBC, session_->dbc, how); });
    if (!rc)
        return -1;
    if (!succeeded(*rc))
        return diagnostics(owner(), SQL_HANDLE_DBC, session_->dbc);
    return ok();
}

} // namespace rt::detail::odbc

namespace rt::detail {

std::unique_ptr<backend> make_odbc_backend(transaction& owner)
{
    return std::make_unique<odbc::odbc_backend>(owner);
}

} // namespace rt::detail
