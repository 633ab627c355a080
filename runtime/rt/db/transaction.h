#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace rt {

/// The database behind a transaction, chosen by the form of its server name.
enum class dbms_kind {
    sqlite,     ///< "sqlite:PATH"; a relative PATH is taken from the working directory
    postgresql, ///< "postgresql://host:port"
    odbc,       ///< "odbc:CONNECTION-STRING": any ODBC data source, by driver or DSN
    sqlserver,  ///< anything else: Microsoft SQL Server through unixODBC and FreeTDS
};

/// The SQL a connected server speaks where dialects differ (the first row of a query).
enum class sql_dialect {
    standard, ///< "limit 1"
    tsql,     ///< Microsoft SQL Server: "top 1"
};

/// Which backend a server name selects.
dbms_kind dbms_kind_of(const QString& servername);

/// Reads one large value (a file's contents) piece by piece, so that memory does not grow with
/// its size. Obtained from transaction::open_blob(); valid while its transaction stays connected.
class blob_reader {
public:
    virtual ~blob_reader() = default;
    /// Total size in bytes, known before the first read. A null value has size 0.
    virtual std::int64_t size() const = 0;
    /// True when the stored value is null.
    virtual bool is_null() const = 0;
    /// Reads up to buffer.size() bytes. Returns the number of bytes read (0 at the end), or -1
    /// on failure, with the transaction's sqlcode, sqldbcode and sqlerrtext set.
    virtual std::int64_t read(std::span<std::byte> buffer) = 0;
};

/// Fills one large value piece by piece, so that memory does not grow with its size. Obtained
/// from transaction::insert_blob(); valid while its transaction stays connected. The row exists
/// (inside the transaction) from the moment the writer is returned.
class blob_writer {
public:
    virtual ~blob_writer() = default;
    /// Appends bytes to the value. Returns 0, or -1 on failure (also when more bytes are written
    /// than announced), with the transaction's status set.
    virtual long write(std::span<const std::byte> data) = 0;
    /// Completes the value; fails with -1 unless exactly the announced number of bytes was
    /// written. Returns the transaction's sqlcode.
    virtual long finish() = 0;
};

/// Rows of a query, fetched one by one; all rows are read when the cursor opens, so that other
/// statements can run on the same connection while it is open.
class cursor {
public:
    /// The next row's columns as text (a null column is a null QString), or std::nullopt when no
    /// row is left (the transaction's sqlcode is then 100).
    std::optional<QStringList> fetch();

private:
    friend class transaction;
    std::vector<QStringList> rows_;
    std::size_t next_ = 0;
    class transaction* owner_ = nullptr;
    // The outcome of opening the cursor: a cursor that could not be opened fails every fetch
    // with that error rather than looking empty.
    long open_code_ = 0;
    long open_dbcode_ = 0;
    QString open_errtext_;
};

namespace detail {
class backend;
}

/// The platform's database connection object. The connection fields are filled by the caller
/// before connect(); every operation sets sqlcode (0 success, 100 no row, -1 failure) and, on
/// failure, sqldbcode (the server's error number) and sqlerrtext (its text).
///
/// Statements use '?' for bound parameters on every backend; parameters are passed as text and
/// converted by the server to the column's type (numbers compare as numbers).
///
/// Without automatic commit a transaction is begun before the first statement and stays open
/// until commit() or rollback(); isolation is read committed on every backend.
class transaction {
public:
    transaction();
    ~transaction();
    transaction(const transaction&) = delete;
    transaction& operator=(const transaction&) = delete;

    // Connection fields, in the platform's names.
    QString logpass; ///< login password
    QString logid;   ///< login name
    QString dbms;    ///< database interface (informational; the backend follows servername)
    QString lock;    ///< isolation level: "RC" read committed
    bool autocommit = false;
    QString servername; ///< selects the backend, see dbms_kind
    QString dbparm; ///< comma-separated name=value pairs: timeout, Database='…', Provider='…'

    // Outcome of the last operation.
    long sqlcode = 0;
    long sqldbcode = 0;
    QString sqlerrtext;

    /// Connects with the fields above; returns sqlcode. The connection time-out comes from the
    /// "timeout" pair of dbparm (5 seconds when absent). On SQLite the file must exist unless
    /// dbparm holds Create='yes', so that a mistyped path fails here and leaves nothing behind.
    long connect();
    /// Ends the transaction (rolled back) and closes the connection; always succeeds.
    long disconnect();
    bool connected() const;
    /// After connect() failed: true when the server refused the log-in for want of capacity
    /// (every connection it allows is in use, or it is starting up or shutting down), so that
    /// the same log-in may succeed later; false after every other failure (a wrong password, no
    /// server listening, a time-out) and after a successful connect().
    bool refused_for_capacity() const { return refused_for_capacity_; }
    dbms_kind kind() const;
    /// The dialect of the connected server; for "odbc:" it follows the driver's DBMS name.
    sql_dialect dialect() const;

    /// Runs a statement that returns no rows; returns sqlcode.
    long execute(const QString& sql, const QStringList& params = {});
    /// The first column of the first row as text; std::nullopt with sqlcode 100 when there is no
    /// row, and a null QString for a null value.
    std::optional<QString> select_value(const QString& sql, const QStringList& params = {});
    /// Opens a cursor on a query; sqlcode tells whether it could be opened.
    cursor open_cursor(const QString& sql, const QStringList& params = {});
    /// Opens column `column` of the one row of `table` that matches `where` (a condition with
    /// '?' parameters). Returns nullptr with sqlcode 100 when no row matches, or -1 on failure.
    std::unique_ptr<blob_reader> open_blob(const QString& table, const QString& column,
                                           const QString& where, const QStringList& params);
    /// Inserts one row into `table`: `columns` take `values` (passed as text like statement
    /// parameters) and `blob_column` takes a value of exactly `size` bytes that the returned
    /// writer fills. On SQLite the column holds the bytes; on PostgreSQL a column of type oid
    /// holds the oid of a new large object (created inside the transaction, so a rollback
    /// removes it) and a bytea column the bytes, gathered in a large object and inserted with
    /// the row by finish(); on SQL Server the bytes are sent with the statement. Returns nullptr
    /// with sqlcode -1 on failure, for instance when the value exceeds the backend's size limit.
    std::unique_ptr<blob_writer> insert_blob(const QString& table, const QStringList& columns,
                                             const QStringList& values, const QString& blob_column,
                                             std::int64_t size);

    long commit();
    long rollback();

    /// An SQL expression for the size in bytes of the value in `column` of a row of `table`
    /// (null for a null value), for the connected server and the way the column holds values:
    /// on PostgreSQL a column of type oid refers to large objects, any other holds the bytes.
    /// A null QString, with sqlcode -1, when the column's type cannot be read.
    QString blob_size_sql(const QString& table, const QString& column);
    /// Whether `column` of `table` refers to large objects (PostgreSQL, a column of type oid)
    /// rather than holding the bytes; std::nullopt, with sqlcode -1, when its type cannot be read.
    std::optional<bool> refers_to_large_objects(const QString& table, const QString& column);
    /// Deletes the rows of `table` that match `where` (a condition with '?' parameters) with
    /// the large objects their `blob_column` refers to, if it refers to any. Returns sqlcode.
    long delete_blob_rows(const QString& table, const QString& blob_column, const QString& where,
                          const QStringList& params);

    /// The value of pair `name` of a dbparm text such as
    /// `timeout = 5,Database='exam's db',Provider='SQLNCLI10'`: names match without regard to
    /// case and blanks around them; a value in single quotes ends at the quote that is followed
    /// by a comma and the next name= or by the end of the text, so a quote inside it is kept
    /// unchanged. A null QString when the pair is absent.
    static QString dbparm_value(const QString& dbparm, const QString& name);

private:
    friend class cursor;
    friend class detail::backend;
    void set_status(long code, long dbcode = 0, const QString& text = {});
    long not_connected();
    std::unique_ptr<detail::backend> backend_;
    // Why the backend closed its connection (a time-out, an interruption, a lost link), so that
    // later operations report that instead of a bare "not connected".
    long lost_code_ = 0;
    QString lost_text_;
    bool refused_for_capacity_ = false;
};

} // namespace rt
