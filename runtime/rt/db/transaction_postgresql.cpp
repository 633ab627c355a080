// PostgreSQL backend of rt::transaction, directly over libpq. Large values live in large
// objects (the column holds their oid), moved in pieces by the server functions lo_get and
// lo_put. Every command is sent asynchronously and waited for with a deadline, so that a server
// that stops answering ends in an error instead of a hang.
// Large values: transaction_postgresql_blob.cpp.

#include "transaction_postgresql_p.h"

#include <rt/db/interruption.h>

#include <QUrl>

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace rt::detail::pg {

namespace {

QString connection_error(PGconn* conn)
{
    return QStringLiteral("08001: %1").arg(QString::fromUtf8(PQerrorMessage(conn)).trimmed());
}

} // namespace

long pg_backend::connect()
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
long pg_backend::log_in(PGconn* conn, int seconds)
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
            return fail(pg_error_number,
                        QStringLiteral("08001: ") + QString::fromLocal8Bit(std::strerror(errno)));
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

long pg_backend::login_failed(PGconn* conn) const
{
    const QString text = pg_login_error(QString::fromUtf8(PQerrorMessage(conn)));
    if (capacity_refusal(QStringView(text).left(5), 0, text))
        return refused_for_capacity(pg_error_number, text);
    return fail(pg_error_number, text);
}

void pg_backend::disconnect()
{
    if (session_ && session_->in_transaction)
        exec("rollback");
    session_.reset();
}

long pg_backend::execute(const QString& sql, const QStringList& params)
{
    return run(sql, pg_params(params)) ? owner().sqlcode : -1;
}

long pg_backend::query(const QString& sql, const QStringList& params,
                       std::vector<QStringList>& rows, std::size_t max_rows)
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

long pg_backend::begin(bool for_large_object, bool* own)
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

long pg_backend::failed(const PGresult* res)
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

void pg_backend::abandon_transaction()
{
    if (session_ && session_->in_transaction) {
        session_->in_transaction = false;
        exec("rollback");
    }
}

result_ptr pg_backend::run(const QString& sql, const pg_params& params, int result_format)
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

bool pg_backend::pipeline_send(const QString& sql, const pg_params& params)
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
                           params.values.data(), params.lengths.data(), params.formats.data(), 1) ||
        !PQsendFlushRequest(conn)) {
        lost(QStringLiteral("08006"));
        return false;
    }
    ++pipelined_;
    return flush(std::chrono::steady_clock::now() + std::chrono::seconds(timeout_));
}

result_ptr pg_backend::pipeline_receive()
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_);
    result_ptr result;
    if (!collect(deadline, result))
        return nullptr;
    --pipelined_;
    if (!result || PQresultStatus(result.get()) != PGRES_TUPLES_OK) {
        const QString text =
            result ? QString::fromUtf8(PQresultErrorMessage(result.get())).trimmed() : QString();
        const char* state = result ? PQresultErrorField(result.get(), PG_DIAG_SQLSTATE) : nullptr;
        in_pipeline_ = false;
        session_.reset();
        fail(pg_error_number,
             QStringLiteral("%1: %2").arg(QString::fromUtf8(state ? state : "08006"), text));
        return nullptr;
    }
    return result;
}

bool pg_backend::end_pipeline()
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

bool pg_backend::flush(std::chrono::steady_clock::time_point deadline)
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
bool pg_backend::collect(std::chrono::steady_clock::time_point deadline, result_ptr& result)
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

long pg_backend::end(const char* verb)
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

// Sends one command and collects its result before the deadline. nullptr, with the status
// set, when the connection failed or the server did not answer in time; the connection is
// closed then, because its state is unknown.
result_ptr pg_backend::exec(const char* sql, const pg_params& params, int result_format)
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
bool pg_backend::wait(std::chrono::steady_clock::time_point deadline, bool writing)
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

void pg_backend::timed_out()
{
    in_pipeline_ = false;
    session_.reset();
    fail(pg_error_number, QStringLiteral("57014: ") + timed_out_text(timeout_));
}

void pg_backend::interrupted()
{
    in_pipeline_ = false;
    session_.reset();
    fail(pg_error_number, QStringLiteral("57014: ") + interrupted_text());
}

long pg_backend::lost(const QString& state)
{
    const QString text = QStringLiteral("%1: %2").arg(
        state, QString::fromUtf8(PQerrorMessage(session_->conn)).trimmed());
    in_pipeline_ = false;
    session_.reset();
    return fail(pg_error_number, text);
}

} // namespace rt::detail::pg

namespace rt::detail {

std::unique_ptr<backend> make_postgresql_backend(transaction& owner)
{
    return std::make_unique<pg::pg_backend>(owner);
}

} // namespace rt::detail
