// PostgreSQL backend of rt::transaction, directly over libpq. Large values live in large
// objects (the column holds their oid), read and written through the lo_* interface.

#include "rt/transaction_p.h"

#include <QUrl>

#include <libpq-fe.h>

#include <algorithm>
#include <cstring>

namespace rt::detail {
namespace {

// libpq defines INV_READ / INV_WRITE in libpq/libpq-fs.h, which is not always installed.
constexpr int lo_mode_read = 0x00040000;
constexpr int lo_mode_write = 0x00020000;

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
        const QByteArray host = url.host().toUtf8();
        const QByteArray port = QByteArray::number(url.port(5432));
        const QByteArray dbname = database.toUtf8();
        const QByteArray user = t.logid.toUtf8();
        const QByteArray password = t.logpass.toUtf8();
        const QByteArray timeout = QByteArray::number(connect_timeout(t.dbparm));
        const char* keys[] = {
            "host", "port", "dbname", "user", "password", "connect_timeout", "client_encoding",
            nullptr};
        const char* values[] = {host.constData(),
                                port.constData(),
                                dbname.constData(),
                                user.constData(),
                                password.constData(),
                                timeout.constData(),
                                "UTF8",
                                nullptr};
        auto session = std::make_shared<pg_session>();
        session->conn = PQconnectdbParams(keys, values, 0);
        if (session->conn == nullptr)
            return fail(pg_error_number, QStringLiteral("08001: out of memory"));
        if (PQstatus(session->conn) != CONNECTION_OK)
            return fail(pg_error_number, connection_error(session->conn));
        // Notices ("does not exist, skipping") are no errors; keep them off stderr.
        PQsetNoticeProcessor(
            session->conn, [](void*, const char*) {}, nullptr);
        session_ = std::move(session);
        return ok();
    }

    void disconnect() override
    {
        if (session_ && session_->in_transaction)
            result_ptr(PQexec(session_->conn, "rollback"));
        session_.reset();
    }

    bool connected() const override { return session_ != nullptr; }

    long execute(const QString& sql, const QStringList& params) override
    {
        return run(sql, params) ? owner().sqlcode : -1;
    }

    long query(const QString& sql, const QStringList& params, std::vector<QStringList>& rows,
               std::size_t max_rows) override
    {
        const result_ptr res = run(sql, params);
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

    // Begins a transaction unless one is open. With automatic commit, large-object access
    // still needs one: `own` tells the caller to end it.
    long begin(bool for_large_object = false, bool* own = nullptr)
    {
        if (own)
            *own = false;
        if (session_->in_transaction || (owner().autocommit && !for_large_object))
            return 0;
        const result_ptr res(PQexec(session_->conn, "begin isolation level read committed"));
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
        if (PQstatus(session_->conn) == CONNECTION_BAD) {
            const QString text =
                QStringLiteral("08006: %1")
                    .arg(QString::fromUtf8(PQerrorMessage(session_->conn)).trimmed());
            // Try once to get the connection back for the next statement.
            PQreset(session_->conn);
            session_->in_transaction = false;
            return fail(pg_error_number, text);
        }
        QString text;
        const char* state = res ? PQresultErrorField(res, PG_DIAG_SQLSTATE) : nullptr;
        const char* message = res ? PQresultErrorField(res, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
        text = QStringLiteral("%1: %2").arg(
            QString::fromUtf8(state ? state : "XX000"),
            message ? QString::fromUtf8(message)
                    : QString::fromUtf8(PQerrorMessage(session_->conn)).trimmed());
        abandon_transaction();
        return fail(pg_error_number, text);
    }

    // Reports a failed large-object call (libpq gives no SQLSTATE for these).
    long lo_failed(const char* what)
    {
        const QString text = QStringLiteral("XX000: %1: %2")
                                 .arg(QString::fromLatin1(what),
                                      QString::fromUtf8(PQerrorMessage(session_->conn)).trimmed());
        abandon_transaction();
        return fail(pg_error_number, text);
    }

    void abandon_transaction()
    {
        if (session_->in_transaction) {
            result_ptr(PQexec(session_->conn, "rollback"));
            session_->in_transaction = false;
        }
    }

    result_ptr run(const QString& sql, const QStringList& params)
    {
        if (begin() < 0)
            return nullptr;
        const QByteArray text = number_placeholders(sql).toUtf8();
        std::vector<QByteArray> storage;
        std::vector<const char*> values;
        storage.reserve(std::size_t(params.size()));
        for (const QString& p : params) {
            storage.push_back(p.toUtf8());
            values.push_back(p.isNull() ? nullptr : storage.back().constData());
        }
        // No parameter types: the server infers each from its use (a numeric column compared
        // with a parameter makes the parameter numeric).
        result_ptr res(PQexecParams(session_->conn, text.constData(), int(values.size()), nullptr,
                                    values.data(), nullptr, nullptr, 0));
        const ExecStatusType status = PQresultStatus(res.get());
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            failed(res.get());
            return nullptr;
        }
        ok();
        return res;
    }

    std::shared_ptr<pg_session> session_;

private:
    long end(const char* verb)
    {
        if (!session_->in_transaction)
            return ok();
        const result_ptr res(PQexec(session_->conn, verb));
        session_->in_transaction = false;
        if (PQresultStatus(res.get()) != PGRES_COMMAND_OK)
            return failed(res.get());
        return ok();
    }
};

long closed(transaction& t)
{
    return backend::fail(t, pg_error_number, QStringLiteral("08003: the connection was closed"));
}

class pg_blob_reader final : public blob_reader {
public:
    pg_blob_reader(pg_backend& backend, int fd, std::int64_t size, bool own_transaction)
        : owner_(backend.owner()), backend_(&backend), session_(backend.session_), fd_(fd),
          size_(size), own_transaction_(own_transaction)
    {
    }
    ~pg_blob_reader() override
    {
        const auto session = session_.lock();
        if (!session || fd_ < 0 || !session->in_transaction)
            return;
        lo_close(session->conn, fd_);
        if (own_transaction_) {
            result_ptr(PQexec(session->conn, "commit"));
            session->in_transaction = false;
        }
    }
    std::int64_t size() const override { return size_; }
    bool is_null() const override { return fd_ < 0; }

    std::int64_t read(std::span<std::byte> buffer) override
    {
        if (fd_ < 0 || buffer.empty() || offset_ >= size_)
            return 0;
        const auto session = session_.lock();
        if (!session || !session->in_transaction)
            return closed(owner_);
        std::size_t done = 0;
        while (done < buffer.size() && offset_ < size_) {
            if (start_ == piece_.size()) {
                // Fetch large pieces: one round trip per piece, however small the reads are.
                piece_.resize(std::size_t(std::min(blob_piece, size_ - offset_)));
                const int n = lo_read(session->conn, fd_, reinterpret_cast<char*>(piece_.data()),
                                      piece_.size());
                if (n <= 0) {
                    piece_.clear();
                    start_ = 0;
                    return backend_->lo_failed("lo_read");
                }
                piece_.resize(std::size_t(n));
                start_ = 0;
            }
            const std::size_t n = std::min(buffer.size() - done, piece_.size() - start_);
            std::memcpy(buffer.data() + done, piece_.data() + start_, n);
            start_ += n;
            done += n;
            offset_ += std::int64_t(n);
        }
        backend::ok(owner_);
        return std::int64_t(done);
    }

private:
    transaction& owner_;
    pg_backend* backend_; // valid while session_ is
    std::weak_ptr<pg_session> session_;
    int fd_;
    std::int64_t size_;
    bool own_transaction_;
    std::int64_t offset_ = 0;
    std::vector<std::byte> piece_;
    std::size_t start_ = 0;
};

std::unique_ptr<blob_reader> pg_backend::open_blob(const QString& table, const QString& column,
                                                   const QString& where, const QStringList& params)
{
    bool own = false;
    if (begin(true, &own) < 0)
        return nullptr;
    std::vector<QStringList> rows;
    if (query(QStringLiteral("select %1 from %2 where %3").arg(column, table, where), params, rows,
              1) < 0)
        return nullptr;
    if (rows.empty() || rows.front().front().isNull()) {
        if (own)
            end("commit");
        if (rows.empty()) {
            ok(100);
            return nullptr;
        }
        ok();
        return std::make_unique<pg_blob_reader>(*this, -1, 0, false);
    }
    bool valid = false;
    const Oid oid = rows.front().front().toUInt(&valid);
    if (!valid) {
        abandon_transaction();
        fail(pg_error_number,
             QStringLiteral("42804: column %1 does not hold a large object").arg(column));
        return nullptr;
    }
    const int fd = lo_open(session_->conn, oid, lo_mode_read);
    if (fd < 0) {
        lo_failed("lo_open");
        return nullptr;
    }
    const pg_int64 size = lo_lseek64(session_->conn, fd, 0, SEEK_END);
    if (size < 0 || lo_lseek64(session_->conn, fd, 0, SEEK_SET) < 0) {
        lo_failed("lo_lseek64");
        return nullptr;
    }
    ok();
    return std::make_unique<pg_blob_reader>(*this, fd, size, own);
}

class pg_blob_writer final : public blob_writer {
public:
    pg_blob_writer(pg_backend& backend, int fd, std::int64_t size, bool own_transaction)
        : owner_(backend.owner()), backend_(&backend), session_(backend.session_), fd_(fd),
          size_(size), own_transaction_(own_transaction)
    {
    }
    ~pg_blob_writer() override
    {
        // An unfinished value is abandoned with the transaction that created it.
        const auto session = session_.lock();
        if (session && fd_ >= 0 && session->in_transaction) {
            lo_close(session->conn, fd_);
            if (own_transaction_) {
                result_ptr(PQexec(session->conn, "rollback"));
                session->in_transaction = false;
            }
        }
    }

    long write(std::span<const std::byte> data) override
    {
        const auto session = session_.lock();
        if (!session || fd_ < 0 || !session->in_transaction)
            return closed(owner_);
        if (std::int64_t(data.size()) > size_ - offset_)
            return backend::fail(
                owner_, pg_error_number,
                QStringLiteral("22001: more bytes written than the %1 announced").arg(size_));
        while (!data.empty()) {
            const std::size_t n = std::min(data.size(), std::size_t(blob_piece));
            const int written =
                lo_write(session->conn, fd_, reinterpret_cast<const char*>(data.data()), n);
            if (written != int(n)) {
                fd_ = -1;
                return backend_->lo_failed("lo_write");
            }
            offset_ += std::int64_t(n);
            data = data.subspan(n);
        }
        return backend::ok(owner_);
    }

    long finish() override
    {
        const auto session = session_.lock();
        if (!session || fd_ < 0 || !session->in_transaction)
            return closed(owner_);
        if (offset_ != size_)
            return backend::fail(
                owner_, pg_error_number,
                QStringLiteral("22000: %1 of %2 announced bytes written").arg(offset_).arg(size_));
        const int rc = lo_close(session->conn, fd_);
        fd_ = -1;
        if (rc < 0)
            return backend_->lo_failed("lo_close");
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
    int fd_;
    std::int64_t size_;
    bool own_transaction_;
    std::int64_t offset_ = 0;
};

std::unique_ptr<blob_writer> pg_backend::insert_blob(const QString& table,
                                                     const QStringList& columns,
                                                     const QStringList& values,
                                                     const QString& blob_column, std::int64_t size)
{
    bool own = false;
    if (begin(true, &own) < 0)
        return nullptr;
    const Oid oid = lo_creat(session_->conn, lo_mode_read | lo_mode_write);
    if (oid == InvalidOid) {
        lo_failed("lo_creat");
        return nullptr;
    }
    QStringList params = values;
    params << QString::number(oid);
    if (execute(insert_statement(table, columns, blob_column, QStringLiteral("?")), params) < 0)
        return nullptr; // the failed statement rolled back the transaction and the new object
    const int fd = lo_open(session_->conn, oid, lo_mode_write);
    if (fd < 0) {
        lo_failed("lo_open");
        return nullptr;
    }
    ok();
    return std::make_unique<pg_blob_writer>(*this, fd, size, own);
}

} // namespace

std::unique_ptr<backend> make_postgresql_backend(transaction& owner)
{
    return std::make_unique<pg_backend>(owner);
}

} // namespace rt::detail
