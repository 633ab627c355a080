// PostgreSQL backend of rt::transaction, directly over libpq. Large values live in large
// objects (the column holds their oid), moved in pieces by the server functions lo_get and
// lo_put. Every command is sent asynchronously and waited for with a deadline, so that a server
// that stops answering ends in an error instead of a hang.

#include <rt/db/interruption.h>
#include <rt/db/transaction_p.h>

#include <QUrl>
#include <QtEndian>

#include <libpq-fe.h>

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace rt::detail {
namespace {

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

QString connection_error(PGconn* conn)
{
    return QStringLiteral("08001: %1").arg(QString::fromUtf8(PQerrorMessage(conn)).trimmed());
}

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

    long connect() override
    {
        const transaction& t = owner();
        // postgresql://host[:port][/database]; the database of dbparm takes precedence.
        const QUrl url(t.servername.trimmed());
        if (!url.isValid() || url.host().isEmpty())
            return fail(pg_error_number,
                        QStringLiteral("08001: invalid server name %1 (postgresql://host:port)")
                            .arg(t.servername));
        QString database = transaction::dbparm_value(t.dbparm, QStringLiteral("Database"));
        if (database.isEmpty())
            database = url.path().mid(1);
        timeout_ = statement_timeout(t.dbparm);
        const QByteArray host = url.host().toUtf8();
        const QByteArray port = QByteArray::number(url.port(5432));
        const QByteArray dbname = database.toUtf8();
        const QByteArray user = t.logid.toUtf8();
        const QByteArray password = t.logpass.toUtf8();
        const QByteArray timeout = QByteArray::number(connect_timeout(t.dbparm));
        // Keep-alives notice a peer that vanished while the connection was idle; the user
        // time-out bounds how long sent data may stay unacknowledged.
        const QByteArray user_timeout = QByteArray::number(timeout_ * 1000);
        const char* keys[] = {"host",
                              "port",
                              "dbname",
                              "user",
                              "password",
                              "connect_timeout",
                              "client_encoding",
                              "keepalives",
                              "keepalives_idle",
                              "keepalives_interval",
                              "keepalives_count",
                              "tcp_user_timeout",
                              nullptr};
        const char* values[] = {host.constData(),
                                port.constData(),
                                dbname.constData(),
                                user.constData(),
                                password.constData(),
                                timeout.constData(),
                                "UTF8",
                                "1",
                                "10",
                                "5",
                                "3",
                                user_timeout.constData(),
                                nullptr};
        auto session = std::make_shared<pg_session>();
        session->conn = PQconnectStartParams(keys, values, 0);
        if (session->conn == nullptr)
            return fail(pg_error_number, QStringLiteral("08001: out of memory"));
        if (const long code = log_in(session->conn, connect_timeout(t.dbparm)); code < 0)
            return code;
        // Notices ("does not exist, skipping") are no errors; keep them off stderr.
        PQsetNoticeProcessor(
            session->conn, [](void*, const char*) {}, nullptr);
        if (PQsetnonblocking(session->conn, 1) != 0)
            return fail(pg_error_number, connection_error(session->conn));
        session_ = std::move(session);
        return ok();
    }

    // Completes a log-in begun by PQconnectStartParams within `seconds`; a stop request (see
    // interruption.h) ends it at once. The server's errors carry their SQLSTATE, so that a
    // refusal for capacity is told apart from the rest.
    long log_in(PGconn* conn, int seconds)
    {
        if (PQstatus(conn) == CONNECTION_BAD)
            return login_failed(conn);
        PQsetErrorVerbosity(conn, PQERRORS_VERBOSE);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        PostgresPollingStatusType status = PGRES_POLLING_WRITING;
        while (status != PGRES_POLLING_OK) {
            if (status == PGRES_POLLING_FAILED)
                return login_failed(conn);
            pollfd fds[2] = {
                {PQsocket(conn), short(status == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0},
                {interruption_fd(), POLLIN, 0}};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            const int ready = database_waits_interrupted()
                                  ? 0
                                  : ::poll(fds, 2, int(std::max<std::int64_t>(left.count(), 0)));
            if (database_waits_interrupted() || (ready > 0 && (fds[1].revents & POLLIN)))
                return fail(pg_error_number, QStringLiteral("57014: ") + interrupted_text());
            if (ready < 0 && errno != EINTR)
                return fail(pg_error_number, QStringLiteral("08001: ") +
                                                 QString::fromLocal8Bit(std::strerror(errno)));
            if (ready == 0)
                return fail(pg_error_number,
                            QStringLiteral("08001: the server did not complete the log-in "
                                           "within %1 s")
                                .arg(seconds));
            if (ready > 0)
                status = PQconnectPoll(conn);
        }
        PQsetErrorVerbosity(conn, PQERRORS_DEFAULT);
        return 0;
    }

    long login_failed(PGconn* conn) const
    {
        const QString text = pg_login_error(QString::fromUtf8(PQerrorMessage(conn)));
        if (capacity_refusal(QStringView(text).left(5), 0, text))
            return refused_for_capacity(pg_error_number, text);
        return fail(pg_error_number, text);
    }

    void disconnect() override
    {
        if (session_ && session_->in_transaction)
            exec("rollback");
        session_.reset();
    }

    bool connected() const override { return session_ != nullptr; }

    long execute(const QString& sql, const QStringList& params) override
    {
        return run(sql, pg_params(params)) ? owner().sqlcode : -1;
    }

    long query(const QString& sql, const QStringList& params, std::vector<QStringList>& rows,
               std::size_t max_rows) override
    {
        const result_ptr res = run(sql, pg_params(params));
        if (!res)
            return -1;
        const int n = PQntuples(res.get());
        const int columns = PQnfields(res.get());
        for (int r = 0; r < n && rows.size() < max_rows; ++r) {
            QStringList row;
            for (int c = 0; c < columns; ++c) {
                if (PQgetisnull(res.get(), r, c))
                    row << QString();
                else
                    row << text_of(PQgetvalue(res.get(), r, c),
                                   std::size_t(PQgetlength(res.get(), r, c)));
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

    long commit() override { return end("commit"); }
    long rollback() override { return end("rollback"); }
    blob_storage storage(const QString& table, const QString& column) override
    {
        return postgresql_storage(table, column);
    }

    // Begins a transaction unless one is open. With automatic commit, writing a large object
    // still needs one: `own` tells the caller to end it.
    long begin(bool for_large_object = false, bool* own = nullptr)
    {
        if (own)
            *own = false;
        if (session_->in_transaction || (owner().autocommit && !for_large_object))
            return 0;
        const result_ptr res = exec("begin isolation level read committed");
        if (!res)
            return -1;
        if (PQresultStatus(res.get()) != PGRES_COMMAND_OK)
            return failed(res.get());
        session_->in_transaction = true;
        if (own)
            *own = owner().autocommit;
        return 0;
    }

    // Reports a failed command; an error aborts the transaction, so it is rolled back to keep
    // the connection usable.
    long failed(const PGresult* res)
    {
        if (PQstatus(session_->conn) == CONNECTION_BAD)
            return lost(QStringLiteral("08006"));
        const char* state = res ? PQresultErrorField(res, PG_DIAG_SQLSTATE) : nullptr;
        const char* message = res ? PQresultErrorField(res, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
        const QString text = QStringLiteral("%1: %2").arg(
            QString::fromUtf8(state ? state : "XX000"),
            message ? QString::fromUtf8(message)
                    : QString::fromUtf8(PQerrorMessage(session_->conn)).trimmed());
        abandon_transaction();
        return fail(pg_error_number, text);
    }

    void abandon_transaction()
    {
        if (session_ && session_->in_transaction) {
            session_->in_transaction = false;
            exec("rollback");
        }
    }

    // Runs a command with parameters inside the transaction; nullptr (status set) on failure.
    result_ptr run(const QString& sql, const pg_params& params, int result_format = 0)
    {
        if (begin() < 0)
            return nullptr;
        const QByteArray text = number_placeholders(sql).toUtf8();
        // No parameter types: the server infers each from its use (a numeric column compared
        // with a parameter makes the parameter numeric).
        result_ptr res = exec(text.constData(), params, result_format);
        if (!res)
            return nullptr;
        const ExecStatusType status = PQresultStatus(res.get());
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            failed(res.get());
            return nullptr;
        }
        ok();
        return res;
    }

    // Piece queries of a reader are pipelined: the next pieces are asked for before the
    // current one is written, so that the server prepares them meanwhile. Each answer is
    // waited for with the statement time-out. A failure closes the connection, whose pipeline
    // state is unknown then.

    // Sends one more query into the pipeline (entered on the first).
    bool pipeline_send(const QString& sql, const pg_params& params)
    {
        if (!in_pipeline_) {
            if (begin() < 0)
                return false;
            if (!PQenterPipelineMode(session_->conn)) {
                lost(QStringLiteral("08006"));
                return false;
            }
            in_pipeline_ = true;
            pipelined_ = 0;
        }
        PGconn* conn = session_->conn;
        const QByteArray text = number_placeholders(sql).toUtf8();
        if (!PQsendQueryParams(conn, text.constData(), int(params.values.size()), nullptr,
                               params.values.data(), params.lengths.data(), params.formats.data(),
                               1) ||
            !PQsendFlushRequest(conn)) {
            lost(QStringLiteral("08006"));
            return false;
        }
        ++pipelined_;
        return flush(std::chrono::steady_clock::now() + std::chrono::seconds(timeout_));
    }

    // The result of the oldest query of the pipeline; nullptr, with the status set and the
    // connection closed, on failure.
    result_ptr pipeline_receive()
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_);
        result_ptr result;
        if (!collect(deadline, result))
            return nullptr;
        --pipelined_;
        if (!result || PQresultStatus(result.get()) != PGRES_TUPLES_OK) {
            const QString text =
                result ? QString::fromUtf8(PQresultErrorMessage(result.get())).trimmed()
                       : QString();
            const char* state =
                result ? PQresultErrorField(result.get(), PG_DIAG_SQLSTATE) : nullptr;
            in_pipeline_ = false;
            session_.reset();
            fail(pg_error_number,
                 QStringLiteral("%1: %2").arg(QString::fromUtf8(state ? state : "08006"), text));
            return nullptr;
        }
        return result;
    }

    // Collects what is still pipelined and leaves pipeline mode; false (connection closed) if
    // the server does not answer.
    bool end_pipeline()
    {
        if (!in_pipeline_)
            return true;
        while (pipelined_ > 0)
            if (!pipeline_receive())
                return false;
        in_pipeline_ = false;
        if (!PQexitPipelineMode(session_->conn)) {
            lost(QStringLiteral("08006"));
            return false;
        }
        return true;
    }

    int pipelined() const { return pipelined_; }

    std::shared_ptr<pg_session> session_;

private:
    bool flush(std::chrono::steady_clock::time_point deadline)
    {
        for (;;) { // until everything is sent
            const int flushed = PQflush(session_->conn);
            if (flushed == 0)
                return true;
            if (flushed < 0) {
                lost(QStringLiteral("08006"));
                return false;
            }
            if (!wait(deadline, true))
                return false;
        }
    }

    // Collects the results of one command, before the deadline, into `result`: its first error,
    // else its last result (nullptr when none came). False when the wait failed (status set).
    bool collect(std::chrono::steady_clock::time_point deadline, result_ptr& result)
    {
        PGconn* conn = session_->conn;
        for (;;) {
            while (PQisBusy(conn))
                if (!wait(deadline, false))
                    return false;
            result_ptr next(PQgetResult(conn));
            if (!next)
                return true;
            const ExecStatusType status = PQresultStatus(next.get());
            const bool error = status == PGRES_FATAL_ERROR || status == PGRES_BAD_RESPONSE;
            if (!result || (error && PQresultStatus(result.get()) != PGRES_FATAL_ERROR))
                result = std::move(next);
        }
    }

    bool in_pipeline_ = false;
    int pipelined_ = 0; // queries sent into the pipeline and not yet collected
    long end(const char* verb)
    {
        if (!session_->in_transaction)
            return ok();
        session_->in_transaction = false;
        const result_ptr res = exec(verb);
        if (!res)
            return -1;
        if (PQresultStatus(res.get()) != PGRES_COMMAND_OK)
            return failed(res.get());
        return ok();
    }

    result_ptr exec(const char* sql) { return exec(sql, pg_params({}), 0); }

    // Sends one command and collects its result before the deadline. nullptr, with the status
    // set, when the connection failed or the server did not answer in time; the connection is
    // closed then, because its state is unknown.
    result_ptr exec(const char* sql, const pg_params& params, int result_format)
    {
        if (in_pipeline_ && !end_pipeline())
            return nullptr;
        PGconn* conn = session_->conn;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_);
        if (database_waits_interrupted()) {
            interrupted();
            return nullptr;
        }
        if (!PQsendQueryParams(conn, sql, int(params.values.size()), nullptr, params.values.data(),
                               params.lengths.data(), params.formats.data(), result_format)) {
            lost(QStringLiteral("08006"));
            return nullptr;
        }
        result_ptr result;
        if (!flush(deadline) || !collect(deadline, result))
            return nullptr;
        if (!result)
            lost(QStringLiteral("08006"));
        return result;
    }

    // Waits until the connection can be read (or written, when `writing`) and reads what came.
    // A stop request (see interruption.h) ends the wait at once; a signal that merely interrupts
    // poll() does not restart the time allowed.
    bool wait(std::chrono::steady_clock::time_point deadline, bool writing)
    {
        PGconn* conn = session_->conn;
        pollfd fds[2] = {{PQsocket(conn), short(POLLIN | (writing ? POLLOUT : 0)), 0},
                         {interruption_fd(), POLLIN, 0}};
        int ready;
        for (;;) {
            if (database_waits_interrupted()) {
                interrupted();
                return false;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            ready = ::poll(fds, 2, int(std::max<std::int64_t>(left.count(), 0)));
            if (ready >= 0 || errno != EINTR)
                break;
        }
        if (ready > 0 && (fds[1].revents & POLLIN)) {
            interrupted();
            return false;
        }
        if (ready == 0) {
            timed_out();
            return false;
        }
        if (ready < 0 || ((fds[0].revents & POLLIN) && !PQconsumeInput(conn))) {
            lost(QStringLiteral("08006"));
            return false;
        }
        return true;
    }

    void timed_out()
    {
        in_pipeline_ = false;
        session_.reset();
        fail(pg_error_number, QStringLiteral("57014: ") + timed_out_text(timeout_));
    }

    void interrupted()
    {
        in_pipeline_ = false;
        session_.reset();
        fail(pg_error_number, QStringLiteral("57014: ") + interrupted_text());
    }

    long lost(const QString& state)
    {
        const QString text = QStringLiteral("%1: %2").arg(
            state, QString::fromUtf8(PQerrorMessage(session_->conn)).trimmed());
        in_pipeline_ = false;
        session_.reset();
        return fail(pg_error_number, text);
    }

    int timeout_ = 30;
};

long closed(transaction& t)
{
    return backend::fail(t, pg_error_number, QStringLiteral("08003: the connection was closed"));
}

// Reads a value with one query per piece: lo_get() ranges of a large object, substring()
// ranges of a bytea column. Each query answers with its piece in rows of `row_bytes`, each row
// beginning with its offset, so that the rows are checked to arrive in order and whole. Results
// come in binary form, without any text encoding, and the next pieces are asked for ahead (see
// pg_backend::pipeline_send), so that the server works while this process writes.
class pg_blob_reader final : public blob_reader {
public:
    // `piece_sql` answers the rows of one piece: it takes the value's oid (a large object
    // only), the row length, the piece's end, its first and last offset and the row length
    // again (offsets from 0), then `params`.
    pg_blob_reader(pg_backend& backend, QString piece_sql, QStringList params, std::int64_t size,
                   bool null, bool large_object)
        : owner_(backend.owner()), backend_(&backend), session_(backend.session_),
          piece_sql_(std::move(piece_sql)), params_(std::move(params)), size_(size), null_(null),
          large_object_(large_object)
    {
    }
    ~pg_blob_reader() override
    {
        // Answers still on their way are collected, so that the connection can go on.
        if (!session_.expired())
            backend_->end_pipeline();
    }
    std::int64_t size() const override { return size_; }
    bool is_null() const override { return null_; }

    std::int64_t read(std::span<std::byte> buffer) override
    {
        if (null_ || buffer.empty() || offset_ >= size_)
            return 0;
        if (session_.expired())
            return closed(owner_);
        if (!failure_.isEmpty()) // what follows a failed row is not the value's next bytes
            return backend::fail(owner_, pg_error_number, failure_);
        std::size_t done = 0;
        while (done < buffer.size() && offset_ < size_) {
            if (start_ == length_ && !next_row())
                return -1;
            const std::size_t n = std::min(buffer.size() - done, length_ - start_);
            std::memcpy(buffer.data() + done, data_ + start_, n);
            start_ += n;
            done += n;
            offset_ += std::int64_t(n);
        }
        backend::ok(owner_);
        return std::int64_t(done);
    }

private:
    // Bytes in one row of a piece's answer. The server copies each value several times on its
    // way out; values of a megabyte leave the processor's caches and the memory its allocator
    // keeps, and cost it about three times as long per byte as values of this size. A piece is
    // a whole number of rows, so that only the value's last row is shorter.
    static constexpr std::int64_t row_bytes = 128 * 1024;
    static_assert(blob_piece % row_bytes == 0);

    // Pieces asked for ahead of the one being read.
    static constexpr int ahead = 2;

    // Makes the next row of the current piece, or of the next piece, the one being read.
    bool next_row()
    {
        if (!piece_ || row_ + 1 >= PQntuples(piece_.get())) {
            if (!next_piece())
                return false;
            row_ = 0;
        } else {
            ++row_;
        }
        PGresult* piece = piece_.get();
        // The row holds the bytes from offset_ on: its offset says so, and its length is the
        // row length or what is left of the value.
        const std::size_t expected = std::size_t(std::min(row_bytes, size_ - offset_));
        std::int64_t at = -1;
        if (PQgetlength(piece, row_, 0) == sizeof at && !PQgetisnull(piece, row_, 0))
            at = qFromBigEndian<qint64>(PQgetvalue(piece, row_, 0));
        data_ = PQgetvalue(piece, row_, 1);
        length_ = std::size_t(PQgetlength(piece, row_, 1));
        start_ = 0;
        if (at != offset_)
            failure_ = QStringLiteral("XX000: a piece of the value came out of order");
        else if (length_ != expected) // the value changed since its size was read
            failure_ = QStringLiteral("XX000: the value ended after %1 of %2 bytes")
                           .arg(offset_ + std::int64_t(length_))
                           .arg(size_);
        if (failure_.isEmpty())
            return true;
        backend::fail(owner_, pg_error_number, failure_);
        return false;
    }

    bool next_piece()
    {
        piece_.reset();
        while (asked_ < size_ && asked_ - offset_ <= ahead * blob_piece) {
            const std::int64_t end = std::min(asked_ + blob_piece, size_);
            QStringList params{QString::number(row_bytes), QString::number(end),
                               QString::number(asked_), QString::number(end - 1),
                               QString::number(row_bytes)};
            if (large_object_)
                params.prepend(params_.front());
            else
                params += params_;
            if (!backend_->pipeline_send(piece_sql_, pg_params(params)))
                return false;
            asked_ = end;
        }
        piece_ = backend_->pipeline_receive();
        if (!piece_)
            return false;
        if (asked_ >= size_ && backend_->pipelined() == 0 && !backend_->end_pipeline())
            return false;
        if (PQntuples(piece_.get()) == 0 || PQnfields(piece_.get()) != 2) {
            failure_ = QStringLiteral("02000: the row of the value is gone");
            backend::fail(owner_, pg_error_number, failure_);
            return false;
        }
        return true;
    }

    transaction& owner_;
    pg_backend* backend_; // valid while session_ is
    std::weak_ptr<pg_session> session_;
    QString piece_sql_;
    QStringList params_;
    std::int64_t size_;
    bool null_;
    bool large_object_;
    std::int64_t offset_ = 0; // bytes read
    std::int64_t asked_ = 0;  // bytes asked for
    result_ptr piece_;
    int row_ = 0;     // the row of piece_ being read
    QString failure_; // why the value could not be read on, once a row was wrong
    const char* data_ = nullptr;
    std::size_t length_ = 0;
    std::size_t start_ = 0;
};

std::unique_ptr<blob_reader> pg_backend::open_blob(const QString& table, const QString& column,
                                                   const QString& where, const QStringList& params)
{
    const blob_storage kind = storage(table, column);
    if (kind == blob_storage::unknown)
        return nullptr;
    const bool large_object = kind == blob_storage::large_object;
    // The size, and for a large object its oid, in one round trip.
    std::vector<QStringList> rows;
    const QString sql =
        large_object
            ? QStringLiteral("select %1, %2 from %3 where %4")
                  .arg(large_object_size_sql(column), column, table, where)
            : QStringLiteral("select octet_length(%1) from %2 where %3").arg(column, table, where);
    if (query(sql, params, rows, 1) < 0)
        return nullptr;
    if (rows.empty()) {
        ok(100);
        return nullptr;
    }
    const bool null = rows.front().front().isNull();
    const std::int64_t size = null ? 0 : rows.front().front().toLongLong();
    ok();
    // The rows of a piece: one per offset, the last one shorter where the piece ends.
    const QString length = QStringLiteral("least(?::bigint, ?::bigint - piece_at)::integer");
    const QString offsets =
        QStringLiteral("generate_series(?::bigint, ?::bigint, ?::bigint) as value_piece(piece_at)");
    if (large_object)
        return std::make_unique<pg_blob_reader>(
            *this,
            QStringLiteral("select piece_at, lo_get(?::oid, piece_at, %1) from %2")
                .arg(length, offsets),
            QStringList{rows.front().at(1)}, size, null, true);
    return std::make_unique<pg_blob_reader>(
        *this,
        QStringLiteral("select piece_at, substring(%1 from (piece_at + 1)::integer for %2) "
                       "from %3 cross join %4 where %5")
            .arg(column, length, table, offsets, where),
        params, size, null, false);
}

// Writes a value into a large object in pieces with lo_put(). For a bytea column the large
// object only gathers the value: finish() inserts the row with it (`insert_sql` taking
// `insert_params` and the oid) and removes the object.
class pg_blob_writer final : public blob_writer {
public:
    pg_blob_writer(pg_backend& backend, QString oid, std::int64_t size, bool own_transaction,
                   QString insert_sql = {}, QStringList insert_params = {})
        : owner_(backend.owner()), backend_(&backend), session_(backend.session_),
          oid_(std::move(oid)), size_(size), own_transaction_(own_transaction),
          insert_sql_(std::move(insert_sql)), insert_params_(std::move(insert_params))
    {
    }
    ~pg_blob_writer() override
    {
        // An unfinished value is abandoned with the transaction that created it.
        if (own_transaction_ && !session_.expired())
            backend_->abandon_transaction();
    }

    long write(std::span<const std::byte> data) override
    {
        const auto session = session_.lock();
        if (!session || done_ || !session->in_transaction)
            return closed(owner_);
        if (std::int64_t(data.size()) > size_ - offset_)
            return backend::fail(
                owner_, pg_error_number,
                QStringLiteral("22001: more bytes written than the %1 announced").arg(size_));
        while (!data.empty()) {
            const std::size_t n = std::min(data.size(), std::size_t(blob_piece));
            pg_params params({oid_, QString::number(offset_)});
            params.add_binary(reinterpret_cast<const char*>(data.data()), n);
            if (!backend_->run(QStringLiteral("select lo_put(?::oid, ?::bigint, ?::bytea)"),
                               params)) {
                done_ = true;
                return -1;
            }
            offset_ += std::int64_t(n);
            data = data.subspan(n);
        }
        return backend::ok(owner_);
    }

    long finish() override
    {
        const auto session = session_.lock();
        if (!session || done_ || !session->in_transaction)
            return closed(owner_);
        if (offset_ != size_)
            return backend::fail(
                owner_, pg_error_number,
                QStringLiteral("22000: %1 of %2 announced bytes written").arg(offset_).arg(size_));
        done_ = true;
        if (!insert_sql_.isEmpty() &&
            (!backend_->run(insert_sql_, pg_params(insert_params_ + QStringList{oid_})) ||
             !backend_->run(QStringLiteral("select lo_unlink(?::oid)"), pg_params({oid_}))))
            return -1;
        if (own_transaction_) {
            own_transaction_ = false;
            return backend_->commit();
        }
        return backend::ok(owner_);
    }

private:
    transaction& owner_;
    pg_backend* backend_;
    std::weak_ptr<pg_session> session_;
    QString oid_;
    std::int64_t size_;
    bool own_transaction_;
    QString insert_sql_;
    QStringList insert_params_;
    std::int64_t offset_ = 0;
    bool done_ = false;
};

std::unique_ptr<blob_writer> pg_backend::insert_blob(const QString& table,
                                                     const QStringList& columns,
                                                     const QStringList& values,
                                                     const QString& blob_column, std::int64_t size)
{
    bool own = false;
    if (begin(true, &own) < 0)
        return nullptr;
    const blob_storage kind = storage(table, blob_column);
    if (kind == blob_storage::unknown)
        return nullptr;
    // Created inside the transaction, so that a rollback removes the object with the row.
    std::vector<QStringList> rows;
    if (query(QStringLiteral("select lo_create(0)"), {}, rows, 1) < 0)
        return nullptr;
    const QString oid = rows.front().front();
    if (kind == blob_storage::bytes) {
        ok();
        return std::make_unique<pg_blob_writer>(
            *this, oid, size, own,
            insert_statement(table, columns, blob_column, QStringLiteral("lo_get(?::oid)")),
            values);
    }
    QStringList params = values;
    params << oid;
    if (execute(insert_statement(table, columns, blob_column, QStringLiteral("?")), params) < 0)
        return nullptr; // the failed statement rolled back the transaction and the new object
    ok();
    return std::make_unique<pg_blob_writer>(*this, oid, size, own);
}

} // namespace

std::unique_ptr<backend> make_postgresql_backend(transaction& owner)
{
    return std::make_unique<pg_backend>(owner);
}

} // namespace rt::detail
