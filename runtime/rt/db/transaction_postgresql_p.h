#pragma once

// The PostgreSQL backend of rt::transaction, shared by its commands (transaction_postgresql.cpp)
// and its large-value readers and writers (transaction_postgresql_blob.cpp).

#include <rt/db/transaction_p.h>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <libpq-fe.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <vector>

namespace rt::detail::pg {

// PostgreSQL has no error numbers; sqlerrtext begins with the SQLSTATE instead.
constexpr long pg_error_number = -1;

struct pg_session {
    PGconn* conn = nullptr;
    bool in_transaction = false;
    ~pg_session() { PQfinish(conn); }
};

struct result_deleter {
    void operator()(PGresult* r) const { PQclear(r); }
};
using result_ptr = std::unique_ptr<PGresult, result_deleter>;

/// A command's parameters: text, or binary where a format of 1 is given.
struct pg_params {
    std::vector<QByteArray> storage;
    std::vector<const char*> values;
    std::vector<int> lengths;
    std::vector<int> formats;

    explicit pg_params(const QStringList& params)
    {
        storage.reserve(std::size_t(params.size()) + 1);
        for (const QString& p : params) {
            storage.push_back(p.toUtf8());
            values.push_back(p.isNull() ? nullptr : storage.back().constData());
            lengths.push_back(0);
            formats.push_back(0);
        }
    }
    void add_binary(const char* data, std::size_t size)
    {
        values.push_back(data);
        lengths.push_back(int(size));
        formats.push_back(1);
    }
};

class pg_backend final : public backend {
public:
    using backend::backend;
    ~pg_backend() override { disconnect(); }

    long connect() override;
    void disconnect() override;
    bool connected() const override { return session_ != nullptr; }
    long execute(const QString& sql, const QStringList& params) override;
    long query(const QString& sql, const QStringList& params, std::vector<QStringList>& rows,
               std::size_t max_rows) override;
    std::unique_ptr<blob_reader> open_blob(const QString& table, const QString& column,
                                           const QString& where,
                                           const QStringList& params) override;
    std::unique_ptr<blob_writer> insert_blob(const QString& table, const QStringList& columns,
                                             const QStringList& values, const QString& blob_column,
                                             std::int64_t size) override;
    long commit() override { return end("commit"); }
    long rollback() override { return end("rollback"); }
    blob_storage storage(const QString& table, const QString& column) override
    {
        return postgresql_storage(table, column);
    }

    /// Begins a transaction unless one is open. With automatic commit, writing a large object
    /// still needs one: `own` tells the caller to end it.
    long begin(bool for_large_object = false, bool* own = nullptr);
    /// Reports a failed command; an error aborts the transaction, so it is rolled back to keep
    /// the connection usable.
    long failed(const PGresult* res);
    void abandon_transaction();
    /// Runs a command with parameters inside the transaction; nullptr (status set) on failure.
    result_ptr run(const QString& sql, const pg_params& params, int result_format = 0);

    // Piece queries of a reader are pipelined: the next pieces are asked for before the
    // current one is written, so that the server prepares them meanwhile. Each answer is
    // waited for with the statement time-out. A failure closes the connection, whose pipeline
    // state is unknown then.

    /// Sends one more query into the pipeline (entered on the first).
    bool pipeline_send(const QString& sql, const pg_params& params);
    /// The result of the oldest query of the pipeline; nullptr, with the status set and the
    /// connection closed, on failure.
    result_ptr pipeline_receive();
    /// Collects what is still pipelined and leaves pipeline mode; false (connection closed) if
    /// the server does not answer.
    bool end_pipeline();
    int pipelined() const { return pipelined_; }

    std::shared_ptr<pg_session> session_;

private:
    long log_in(PGconn* conn, int seconds);
    long login_failed(PGconn* conn) const;
    bool flush(std::chrono::steady_clock::time_point deadline);
    bool collect(std::chrono::steady_clock::time_point deadline, result_ptr& result);
    long end(const char* verb);
    result_ptr exec(const char* sql) { return exec(sql, pg_params({}), 0); }
    result_ptr exec(const char* sql, const pg_params& params, int result_format);
    bool wait(std::chrono::steady_clock::time_point deadline, bool writing);
    void timed_out();
    void interrupted();
    long lost(const QString& state);

    bool in_pipeline_ = false;
    int pipelined_ = 0; // queries sent into the pipeline and not yet collected
    int timeout_ = 30;
};

} // namespace rt::detail::pg
