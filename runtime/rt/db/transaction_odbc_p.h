#pragma once

// The ODBC backend of rt::transaction, shared by its statements (transaction_odbc.cpp) and its
// large-value readers and writers (transaction_odbc_blob.cpp).

#include <rt/db/driver_watchdog.h>
#include <rt/db/transaction_p.h>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace rt::detail::odbc {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "unixODBC's SQLWCHAR is UTF-16");

inline const SQLWCHAR* wide(const std::u16string& s)
{
    return reinterpret_cast<const SQLWCHAR*>(s.c_str());
}

inline std::u16string to_u16(const QString& s)
{
    return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), std::size_t(s.size()));
}

inline bool succeeded(SQLRETURN rc)
{
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

/// Sets the status of `t` from the diagnostics of a handle: the first native error number and
/// every message; returns -1. After a failed log-in, `capacity` tells whether any of them says
/// that the server refused for want of capacity.
long diagnostics(transaction& t, SQLSMALLINT type, SQLHANDLE handle, bool* capacity = nullptr);

/// One connection: its handles and the watchdog that bounds every call that may wait for it.
struct odbc_session {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    bool connected = false;
    bool cut = false; // the watchdog shut the connection's sockets down
    int timeout = 30;
    driver_watchdog watchdog;
    // psqlODBC's log files that existed before it connected (null: not the PostgreSQL driver).
    std::optional<QStringList> logs_before;

    odbc_session() = default;
    odbc_session(const odbc_session&) = delete;
    odbc_session& operator=(const odbc_session&) = delete;
    /// Rolls back and disconnects (bounded like every call), removes psqlODBC's new log files.
    ~odbc_session();
};

/// A statement handle, freed when it goes out of scope (unless its connection is gone).
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

/// Parameters stay in these buffers until the statement has run.
struct parameters {
    std::vector<std::u16string> values;
    std::vector<SQLLEN> lengths;
};

/// How a statement's last parameter is given, beside the text parameters.
struct binary_parameter {
    const void* data = nullptr; ///< null: the bytes are sent at execution (SQLPutData)
    std::int64_t size = -1;     ///< -1: no such parameter
};

class odbc_backend final : public backend {
public:
    using backend::backend;
    ~odbc_backend() override { disconnect(); }

    long connect() override;
    sql_dialect dialect() const override { return dialect_; }
    void disconnect() override { session_.reset(); }
    bool connected() const override { return session_ != nullptr; }
    long execute(const QString& sql, const QStringList& params) override;
    long query(const QString& sql, const QStringList& params, std::vector<QStringList>& rows,
               std::size_t max_rows) override;
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

    /// Runs one driver call that may wait for the server under the watchdog. std::nullopt, with
    /// the status set and the connection closed, when the watchdog had to cut it.
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

    /// Prepares and runs a statement with text parameters, and a last binary one if given.
    /// Returns 0, SQL_NEED_DATA when the binary parameter is sent at execution, or -1.
    long run(statement& stmt, const QString& sql, const QStringList& params, parameters& buffers,
             binary_parameter binary = {});
    /// The first column of the one row of a query as bytes, into `out`; -1 on failure. A query
    /// without a row gives -1 with `missing` text.
    long bytes_of(const QString& sql, const QStringList& params, QByteArray& out,
                  const QString& missing);

    std::shared_ptr<odbc_session> session_;

private:
    SQLRETURN connect_by_string(odbc_session& session);
    SQLRETURN connect_to_sqlserver(odbc_session& session);
    long column_text(SQLHSTMT stmt, SQLUSMALLINT column, QString& value);
    std::nullopt_t lost(driver_watchdog::outcome outcome);
    static QString cut_text(driver_watchdog::outcome outcome, int seconds);
    long end(SQLSMALLINT how);

    sql_dialect dialect_ = sql_dialect::standard;
    bool postgresql_ = false;
    QString use_database_; // chosen by a statement after the log-in
};

} // namespace rt::detail::odbc
