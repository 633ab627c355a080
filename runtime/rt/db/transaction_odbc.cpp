// ODBC backend of rt::transaction, through unixODBC: Microsoft SQL Server with the FreeTDS
// driver, or any data source named by an "odbc:" connection string.
// FreeTDS allows one active statement per connection, so queries read all their rows before
// they return, and an open blob reader holds the connection's one statement until it is closed.

#include <rt/db/transaction_p.h>

#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <sql.h>
#include <sqlext.h>

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

// A value of a connection-string pair, in braces where ';' or a leading brace or blank would
// otherwise change its meaning (a closing brace inside is doubled, as the ODBC grammar asks).
// Drivers differ in how they read braces, so a value that needs none gets none.
QString braced(const QString& value)
{
    if (!value.contains(QLatin1Char(';')) && !value.startsWith(QLatin1Char('{')) &&
        value.trimmed() == value)
        return value;
    QString v = value;
    v.replace(QLatin1Char('}'), QLatin1String("}}"));
    return QLatin1Char('{') + v + QLatin1Char('}');
}

bool succeeded(SQLRETURN rc)
{
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

struct odbc_session {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    bool connected = false;
    ~odbc_session()
    {
        if (connected) {
            SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK);
            SQLDisconnect(dbc); // frees every statement of the connection
        }
        if (dbc != SQL_NULL_HDBC)
            SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        if (env != SQL_NULL_HENV)
            SQLFreeHandle(SQL_HANDLE_ENV, env);
    }
};

// The first native error number and every diagnostic message of a handle.
long diagnostics(transaction& t, SQLSMALLINT type, SQLHANDLE handle)
{
    long native_error = 0;
    QStringList messages;
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
    }
    if (messages.isEmpty())
        messages << QStringLiteral("unknown ODBC error");
    return backend::fail(t, native_error != 0 ? native_error : -1,
                         messages.join(QLatin1Char('\n')));
}

// A statement handle, freed when it goes out of scope.
struct statement {
    SQLHSTMT h = SQL_NULL_HSTMT;
    statement() = default;
    statement(const statement&) = delete;
    statement& operator=(const statement&) = delete;
    ~statement()
    {
        if (h != SQL_NULL_HSTMT)
            SQLFreeHandle(SQL_HANDLE_STMT, h);
    }
    SQLHSTMT release() { return std::exchange(h, SQLHSTMT{}); }
};

// Parameters stay in these buffers until the statement has run.
struct parameters {
    std::vector<std::u16string> values;
    std::vector<SQLLEN> lengths;
};

class odbc_backend final : public backend {
public:
    using backend::backend;
    ~odbc_backend() override { disconnect(); }

    long connect() override
    {
        const transaction& t = owner();
        auto session = std::make_shared<odbc_session>();
        if (!succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &session->env)))
            return fail(-1, QStringLiteral("cannot allocate an ODBC environment"));
        SQLSetEnvAttr(session->env, SQL_ATTR_ODBC_VERSION,
                      reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        if (!succeeded(SQLAllocHandle(SQL_HANDLE_DBC, session->env, &session->dbc)))
            return diagnostics(owner(), SQL_HANDLE_ENV, session->env);
        // FreeTDS ignores a time-out in the connection string; only the attribute counts.
        const auto timeout = SQLULEN(connect_timeout(t.dbparm));
        timeout_ = SQLULEN(statement_timeout(t.dbparm));
        SQLSetConnectAttr(session->dbc, SQL_ATTR_CONNECTION_TIMEOUT,
                          reinterpret_cast<SQLPOINTER>(timeout_), 0);
        SQLSetConnectAttr(session->dbc, SQL_ATTR_LOGIN_TIMEOUT,
                          reinterpret_cast<SQLPOINTER>(timeout), 0);
        SQLSetConnectAttr(
            session->dbc, SQL_ATTR_AUTOCOMMIT,
            reinterpret_cast<SQLPOINTER>(t.autocommit ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF), 0);

        const SQLRETURN rc = t.kind() == dbms_kind::odbc ? connect_by_string(*session)
                                                         : connect_to_sqlserver(*session);
        if (!succeeded(rc))
            return diagnostics(owner(), SQL_HANDLE_DBC, session->dbc);
        session->connected = true;
        if (!succeeded(SQLSetConnectAttr(session->dbc, SQL_ATTR_TXN_ISOLATION,
                                         reinterpret_cast<SQLPOINTER>(SQL_TXN_READ_COMMITTED), 0)))
            return diagnostics(owner(), SQL_HANDLE_DBC, session->dbc);
        SQLWCHAR name[256] = {};
        SQLSMALLINT length = 0;
        SQLGetInfoW(session->dbc, SQL_DBMS_NAME, name, sizeof name, &length);
        const QString dbms = QString::fromUtf16(reinterpret_cast<const char16_t*>(name));
        dialect_ = dbms.contains(QLatin1String("SQL Server"), Qt::CaseInsensitive) ||
                           t.kind() == dbms_kind::sqlserver
                       ? sql_dialect::tsql
                       : sql_dialect::standard;
        session_ = std::move(session);
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
            const SQLRETURN rc = SQLFetch(stmt.h);
            if (rc == SQL_NO_DATA)
                break;
            if (!succeeded(rc))
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
        QString text = t.servername.trimmed().mid(int(std::strlen("odbc:")));
        const auto names = [&](const char* key) {
            return text.contains(
                QRegularExpression(QStringLiteral("(^|;)\\s*%1\\s*=").arg(QLatin1String(key)),
                                   QRegularExpression::CaseInsensitiveOption));
        };
        const QString database = transaction::dbparm_value(t.dbparm, QStringLiteral("Database"));
        QStringList extra;
        if (!database.isEmpty() && !names("DATABASE"))
            extra << QStringLiteral("DATABASE=") + braced(database);
        if (!t.logid.isEmpty() && !names("UID"))
            extra << QStringLiteral("UID=") + braced(t.logid);
        if (!t.logpass.isEmpty() && !names("PWD"))
            extra << QStringLiteral("PWD=") + braced(t.logpass);
        if (!extra.isEmpty()) {
            if (!text.isEmpty() && !text.endsWith(QLatin1Char(';')))
                text += QLatin1Char(';');
            text += extra.join(QLatin1Char(';')) + QLatin1Char(';');
        }
        const std::u16string conn = to_u16(text);
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
        const QTemporaryDir dir;
        const QString ini = dir.filePath(QStringLiteral("odbc.ini"));
        QFile file(ini);
        if (!dir.isValid() || !file.open(QIODevice::WriteOnly))
            return SQL_ERROR;
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
        // current catalogue instead, which the driver reads in Latin-1 before connecting.
        const QString database = transaction::dbparm_value(t.dbparm, QStringLiteral("Database"));
        const std::u16string catalog = to_u16(database);
        if (database.trimmed() != database)
            SQLSetConnectAttrW(session.dbc, SQL_ATTR_CURRENT_CATALOG,
                               const_cast<SQLWCHAR*>(wide(catalog)), SQL_NTS);
        else if (!database.isEmpty())
            source += QStringLiteral("Database = %1\n").arg(database);
        file.write(source.toUtf8());
        file.close();

        // The driver manager and the driver read the data source while connecting only.
        const QByteArray previous = qgetenv("ODBCINI");
        const bool had_previous = qEnvironmentVariableIsSet("ODBCINI");
        qputenv("ODBCINI", QFile::encodeName(ini));
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

    // Prepares and runs a statement with text parameters. Returns 0, SQL_NEED_DATA when a
    // parameter is sent at execution, or -1.
    long run(statement& stmt, const QString& sql, const QStringList& params, parameters& buffers,
             std::int64_t data_at_exec_size = -1)
    {
        if (!succeeded(SQLAllocHandle(SQL_HANDLE_STMT, session_->dbc, &stmt.h)))
            return diagnostics(owner(), SQL_HANDLE_DBC, session_->dbc);
        // Bounds the statement and every later read of its large value.
        SQLSetStmtAttr(stmt.h, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(timeout_), 0);
        const std::u16string text = to_u16(sql);
        if (!succeeded(
                SQLPrepareW(stmt.h, const_cast<SQLWCHAR*>(wide(text)), SQLINTEGER(text.size()))))
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
        if (data_at_exec_size >= 0) {
            SQLLEN& length = buffers.lengths.back();
            length = SQL_LEN_DATA_AT_EXEC(SQLLEN(data_at_exec_size));
            const SQLRETURN rc = SQLBindParameter(
                stmt.h, SQLUSMALLINT(params.size() + 1), SQL_PARAM_INPUT, SQL_C_BINARY,
                SQL_LONGVARBINARY, SQLULEN(std::max<std::int64_t>(data_at_exec_size, 1)), 0,
                reinterpret_cast<SQLPOINTER>(1), 0, &length);
            if (!succeeded(rc))
                return diagnostics(owner(), SQL_HANDLE_STMT, stmt.h);
        }
        const SQLRETURN rc = SQLExecute(stmt.h);
        if (rc == SQL_NEED_DATA)
            return SQL_NEED_DATA;
        if (!succeeded(rc) && rc != SQL_NO_DATA)
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
            const SQLRETURN rc =
                SQLGetData(stmt, column, SQL_C_WCHAR, piece, sizeof piece, &length);
            if (rc == SQL_NO_DATA)
                break;
            if (!succeeded(rc))
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
            if (rc == SQL_SUCCESS)
                break;
        }
        value = QString::fromUtf16(text.data(), qsizetype(text.size()));
        if (value.isNull())
            value = QString(QLatin1String(""));
        return 0;
    }

    std::shared_ptr<odbc_session> session_;

private:
    SQLULEN timeout_ = 30;
    sql_dialect dialect_ = sql_dialect::standard;

    long end(SQLSMALLINT how)
    {
        if (!succeeded(SQLEndTran(SQL_HANDLE_DBC, session_->dbc, how)))
            return diagnostics(owner(), SQL_HANDLE_DBC, session_->dbc);
        return ok();
    }
};

long closed(transaction& t)
{
    return backend::fail(t, -1, QStringLiteral("the connection was closed"));
}

class odbc_blob_reader final : public blob_reader {
public:
    odbc_blob_reader(transaction& owner, std::weak_ptr<odbc_session> session, SQLHSTMT stmt,
                     std::int64_t size, bool null)
        : owner_(owner), session_(std::move(session)), stmt_(stmt), size_(size), null_(null)
    {
    }
    ~odbc_blob_reader() override
    {
        if (!session_.expired()) // a disconnect has freed the statement already
            SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    }
    std::int64_t size() const override { return size_; }
    bool is_null() const override { return null_; }

    std::int64_t read(std::span<std::byte> buffer) override
    {
        if (null_ || buffer.empty() || offset_ >= size_)
            return 0;
        if (session_.expired())
            return closed(owner_);
        const std::size_t want = std::size_t(std::min<std::int64_t>(
            {std::int64_t(buffer.size()), size_ - offset_, std::int64_t(blob_piece) * 64}));
        SQLLEN length = 0;
        const SQLRETURN rc =
            SQLGetData(stmt_, 2, SQL_C_BINARY, buffer.data(), SQLLEN(want), &length);
        if (rc == SQL_NO_DATA)
            return 0;
        if (!succeeded(rc))
            return diagnostics(owner_, SQL_HANDLE_STMT, stmt_);
        // With more data to come the buffer was filled; otherwise length is what was left.
        const std::int64_t n = (length == SQL_NO_TOTAL || length > SQLLEN(want))
                                   ? std::int64_t(want)
                                   : std::int64_t(length);
        offset_ += n;
        backend::ok(owner_);
        return n;
    }

private:
    transaction& owner_;
    std::weak_ptr<odbc_session> session_;
    SQLHSTMT stmt_;
    std::int64_t size_;
    bool null_;
    std::int64_t offset_ = 0;
};

std::unique_ptr<blob_reader> odbc_backend::open_blob(const QString& table, const QString& column,
                                                     const QString& where,
                                                     const QStringList& params)
{
    statement stmt;
    parameters buffers;
    const QString sql = QStringLiteral("select %1(%2), %2 from %3 where %4")
                            .arg(dialect_ == sql_dialect::tsql ? QLatin1String("datalength")
                                                               : QLatin1String("octet_length"),
                                 column, table, where);
    if (run(stmt, sql, params, buffers) < 0)
        return nullptr;
    const SQLRETURN rc = SQLFetch(stmt.h);
    if (rc == SQL_NO_DATA) {
        ok(100);
        return nullptr;
    }
    if (!succeeded(rc)) {
        diagnostics(owner(), SQL_HANDLE_STMT, stmt.h);
        return nullptr;
    }
    SQLBIGINT size = 0;
    SQLLEN indicator = 0;
    if (!succeeded(SQLGetData(stmt.h, 1, SQL_C_SBIGINT, &size, 0, &indicator))) {
        diagnostics(owner(), SQL_HANDLE_STMT, stmt.h);
        return nullptr;
    }
    const bool null = indicator == SQL_NULL_DATA;
    ok();
    return std::make_unique<odbc_blob_reader>(owner(), session_, stmt.release(),
                                              null ? 0 : std::int64_t(size), null);
}

class odbc_blob_writer final : public blob_writer {
public:
    odbc_blob_writer(transaction& owner, std::weak_ptr<odbc_session> session, SQLHSTMT stmt,
                     parameters buffers, std::int64_t size)
        : owner_(owner), session_(std::move(session)), stmt_(stmt), buffers_(std::move(buffers)),
          size_(size)
    {
    }
    ~odbc_blob_writer() override
    {
        if (!session_.expired()) {
            SQLCancel(stmt_);
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
            if (!succeeded(SQLPutData(stmt_, const_cast<std::byte*>(data.data()), SQLLEN(n))))
                return diagnostics(owner_, SQL_HANDLE_STMT, stmt_);
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
        if (size_ == 0) {
            static char nothing = 0;
            if (!succeeded(SQLPutData(stmt_, &nothing, 0)))
                return diagnostics(owner_, SQL_HANDLE_STMT, stmt_);
        }
        SQLPOINTER token = nullptr;
        const SQLRETURN rc = SQLParamData(stmt_, &token);
        done_ = true;
        if (!succeeded(rc) && rc != SQL_NO_DATA)
            return diagnostics(owner_, SQL_HANDLE_STMT, stmt_);
        return backend::ok(owner_);
    }

private:
    transaction& owner_;
    std::weak_ptr<odbc_session> session_;
    SQLHSTMT stmt_;
    parameters buffers_; // bound to the statement until it has run
    std::int64_t size_;
    std::int64_t offset_ = 0;
    bool done_ = false;
};

std::unique_ptr<blob_writer>
odbc_backend::insert_blob(const QString& table, const QStringList& columns,
                          const QStringList& values, const QString& blob_column, std::int64_t size)
{
    statement stmt;
    parameters buffers;
    const QString sql = insert_statement(table, columns, blob_column, QStringLiteral("?"));
    const long rc = run(stmt, sql, values, buffers, size);
    if (rc < 0)
        return nullptr;
    if (rc != SQL_NEED_DATA) {
        fail(-1, QStringLiteral("the driver did not ask for the value's data"));
        return nullptr;
    }
    // Start sending the value: the driver asks for the one parameter given at execution.
    SQLPOINTER token = nullptr;
    if (SQLParamData(stmt.h, &token) != SQL_NEED_DATA) {
        diagnostics(owner(), SQL_HANDLE_STMT, stmt.h);
        return nullptr;
    }
    ok();
    return std::make_unique<odbc_blob_writer>(owner(), session_, stmt.release(), std::move(buffers),
                                              size);
}

} // namespace

std::unique_ptr<backend> make_odbc_backend(transaction& owner)
{
    return std::make_unique<odbc_backend>(owner);
}

} // namespace rt::detail
