#pragma once

// Internals of rt::transaction shared by its backends (transaction_sqlite.cpp,
// transaction_postgresql.cpp, transaction_odbc.cpp). Tests include this header to reach the
// helpers below.

#include <rt/db/transaction.h>

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace rt::detail {

/// How a column holds large values.
enum class blob_storage {
    bytes,        ///< in the row (blob, bytea, varbinary(max))
    large_object, ///< PostgreSQL: the row holds the oid of a large object
    unknown,      ///< could not be found out; the status says why
};

/// One database client library behind a transaction. Every operation reports through the
/// transaction's status fields (ok() / fail()) and returns its sqlcode; none throws.
class backend {
public:
    explicit backend(transaction& owner) : owner_(owner) {}
    virtual ~backend() = default;
    backend(const backend&) = delete;
    backend& operator=(const backend&) = delete;

    virtual long connect() = 0;
    /// Rolls back and closes; never fails.
    virtual void disconnect() = 0;
    virtual bool connected() const = 0;
    virtual sql_dialect dialect() const { return sql_dialect::standard; }
    virtual long execute(const QString& sql, const QStringList& params) = 0;
    /// Runs a query and appends up to max_rows rows (every column as text) to rows.
    virtual long query(const QString& sql, const QStringList& params,
                       std::vector<QStringList>& rows, std::size_t max_rows) = 0;
    virtual std::unique_ptr<blob_reader> open_blob(const QString& table, const QString& column,
                                                   const QString& where,
                                                   const QStringList& params) = 0;
    virtual std::unique_ptr<blob_writer>
    insert_blob(const QString& table, const QStringList& columns, const QStringList& values,
                const QString& blob_column, std::int64_t size) = 0;
    virtual long commit() = 0;
    virtual long rollback() = 0;
    /// How `column` of `table` holds its values on this server.
    virtual blob_storage storage(const QString& /*table*/, const QString& /*column*/)
    {
        return blob_storage::bytes;
    }
    /// storage() of a PostgreSQL server, whichever client reaches it: large objects when the
    /// column's type is oid. Read once per column and connection.
    blob_storage postgresql_storage(const QString& table, const QString& column);

    transaction& owner() const { return owner_; }
    long ok(long code = 0) const { return ok(owner_, code); }
    long fail(long dbcode, const QString& text) const { return fail(owner_, dbcode, text); }

    // For readers and writers, which hold the transaction (it outlives its backends).
    static long ok(transaction& t, long code = 0)
    {
        t.set_status(code);
        return code;
    }
    static long fail(transaction& t, long dbcode, const QString& text)
    {
        t.set_status(-1, dbcode, text);
        return -1;
    }
    /// fail() for a log-in that the server refused for want of capacity (see
    /// transaction::refused_for_capacity()).
    long refused_for_capacity(long dbcode, const QString& text) const
    {
        owner_.refused_for_capacity_ = true;
        return fail(dbcode, text);
    }

private:
    transaction& owner_;
    std::map<std::pair<QString, QString>, blob_storage> storage_;
};

std::unique_ptr<backend> make_sqlite_backend(transaction& owner);
std::unique_ptr<backend> make_postgresql_backend(transaction& owner);
std::unique_ptr<backend> make_odbc_backend(transaction& owner);

/// The connection time-out in seconds from dbparm's "timeout" pair; 5 when absent or invalid.
int connect_timeout(const QString& dbparm);

/// The time-out in seconds of every statement and every piece of a large value: dbparm's
/// "StatementTimeout" pair, else the default (the build's QORV_STATEMENT_TIMEOUT, 30 seconds).
int statement_timeout(const QString& dbparm);
/// Replaces the default of statement_timeout() for this process (the updater's test build
/// shortens it, so that its tests need not wait for the real time-out).
void set_default_statement_timeout(int seconds);

/// Rewrites '?' placeholders to $1, $2, … outside quoted literals, quoted identifiers,
/// dollar-quoted strings and comments.
QString number_placeholders(const QString& sql);

/// Text from UTF-8 bytes that is never null, so that an empty value stays distinct from a null.
QString text_of(const char* data, std::size_t size);

/// "insert into T (c1, …, blob) values (p1, …, blob_value)" where each pi is '?'.
QString insert_statement(const QString& table, const QStringList& columns,
                         const QString& blob_column, const QString& blob_value);

/// Readable while database waits are interrupted (see interruption.h); -1 when the process could
/// not make its pipe.
int interruption_fd() noexcept;

/// The status text of a wait that ended without the server's answer, after `seconds`.
QString timed_out_text(int seconds);
/// The status text of a wait that ended because database waits were interrupted.
QString interrupted_text();

/// PostgreSQL: the size of the large object whose oid `column` holds (null for a null oid).
QString large_object_size_sql(const QString& column);

/// Whether an "odbc:" connection string reaches PostgreSQL's driver (psqlODBC), by the driver
/// it names or the driver of the data source it names.
bool is_postgresql_driver(const QString& connection_string);

/// The connection string for an "odbc:" server: `text` with the database, login and password
/// added (each unless `text` names its own), written so that the driver reads them exactly.
QString odbc_connection_string(QString text, const QString& database, const QString& user,
                               const QString& password, bool postgresql_driver);

/// Whether a failed log-in was refused by the server for want of capacity, from one diagnostic
/// of the client library: its SQLSTATE (PostgreSQL: 53300 every connection in use, 57P03
/// starting up, shutting down or in recovery), the server's error number (SQL Server: 17809 user
/// connections used up, 17187 not ready to accept connections yet, 18401 upgrading after a
/// start) or its text (the same PostgreSQL refusals as psqlODBC reports them, under 08001;
/// PgBouncer's client limit).
bool capacity_refusal(QStringView sqlstate, long native_error, QStringView message);

/// A PostgreSQL log-in failure as libpq reports it with verbose errors ("FATAL:  53300: sorry,
/// too many clients already" and a LOCATION line), as "SQLSTATE: text" of the server's last
/// error; the client's own failures (no server, a time-out) as "08001: text".
QString pg_login_error(const QString& message);

/// Size of the pieces in which large values are moved internally.
inline constexpr std::int64_t blob_piece = 1 << 20;

} // namespace rt::detail
