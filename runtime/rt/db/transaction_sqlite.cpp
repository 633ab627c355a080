// SQLite backend of rt::transaction, directly over libsqlite3.

#include <rt/db/interruption.h>
#include <rt/db/transaction_p.h>

#include <QDir>
#include <QFile>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <utility>

#include <poll.h>

namespace rt::detail {
namespace {

// The connection handle, shared with open readers and writers so that they notice a
// disconnect. sqlite3_close_v2 keeps the database alive until the last blob handle is closed.
struct sqlite_session {
    sqlite3* db = nullptr;
    int timeout = 30; // seconds a statement may wait for another connection's lock
    // Why SQLite gave up its last wait, when it was our handlers that told it to.
    enum class stop { none, timed_out, interrupted } stopped = stop::none;
    std::chrono::steady_clock::time_point busy_since;
    ~sqlite_session() { sqlite3_close_v2(db); }

    // Waits for another connection's lock in short steps until the time-out, and not at all
    // once database waits are interrupted (the interruption pipe wakes the step at once).
    static int busy(void* self, int count)
    {
        auto& s = *static_cast<sqlite_session*>(self);
        const auto now = std::chrono::steady_clock::now();
        if (count == 0)
            s.busy_since = now;
        if (database_waits_interrupted()) {
            s.stopped = stop::interrupted;
            return 0;
        }
        const auto left = s.busy_since + std::chrono::seconds(s.timeout) - now;
        if (left <= std::chrono::steady_clock::duration::zero()) {
            s.stopped = stop::timed_out;
            return 0;
        }
        pollfd fd{interruption_fd(), POLLIN, 0};
        const auto step = std::min<std::int64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(left).count() + 1, 20);
        ::poll(&fd, 1, int(step));
        return 1;
    }

    // Ends a long statement when database waits are interrupted.
    static int progress(void* self)
    {
        auto& s = *static_cast<sqlite_session*>(self);
        if (!database_waits_interrupted())
            return 0;
        s.stopped = stop::interrupted;
        return 1;
    }
};

class sqlite_blob_reader final : public blob_reader {
public:
    sqlite_blob_reader(transaction& owner, std::weak_ptr<sqlite_session> session,
                       sqlite3_blob* blob)
        : owner_(owner), session_(std::move(session)), blob_(blob),
          size_(blob ? sqlite3_blob_bytes(blob) : 0)
    {
    }
    ~sqlite_blob_reader() override { sqlite3_blob_close(blob_); }
    std::int64_t size() const override { return size_; }
    bool is_null() const override { return blob_ == nullptr; }
    std::int64_t read(std::span<std::byte> buffer) override;

private:
    transaction& owner_;
    std::weak_ptr<sqlite_session> session_;
    sqlite3_blob* blob_;
    std::int64_t size_;
    std::int64_t offset_ = 0;
};

class sqlite_blob_writer final : public blob_writer {
public:
    sqlite_blob_writer(transaction& owner, std::weak_ptr<sqlite_session> session,
                       sqlite3_blob* blob, std::int64_t size)
        : owner_(owner), session_(std::move(session)), blob_(blob), size_(size)
    {
    }
    ~sqlite_blob_writer() override { sqlite3_blob_close(blob_); }
    long write(std::span<const std::byte> data) override;
    long finish() override;

private:
    transaction& owner_;
    std::weak_ptr<sqlite_session> session_;
    sqlite3_blob* blob_;
    std::int64_t size_;
    std::int64_t offset_ = 0;
};

class sqlite_backend final : public backend {
public:
    using backend::backend;
    ~sqlite_backend() override { disconnect(); }

    long connect() override
    {
        const transaction& t = owner();
        const QString path = t.servername.trimmed().mid(int(std::strlen("sqlite:")));
        if (path.isEmpty())
            return fail(SQLITE_CANTOPEN, QStringLiteral("no database file given in the server "
                                                        "name (sqlite:PATH)"));
        // The file must exist unless the connection asks to create it, so that a mistyped path
        // is reported at once instead of leaving an empty database behind.
        const bool create = transaction::dbparm_value(t.dbparm, QStringLiteral("Create"))
                                .compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0;
        int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
        auto session = std::make_shared<sqlite_session>();
        const QByteArray file = QFile::encodeName(QDir::cleanPath(path));
        const int rc = sqlite3_open_v2(file.constData(), &session->db, flags, nullptr);
        if (rc != SQLITE_OK) {
            const QString text = session->db ? QString::fromUtf8(sqlite3_errmsg(session->db))
                                             : QString::fromUtf8(sqlite3_errstr(rc));
            return fail(rc, QStringLiteral("%1: %2").arg(text, path));
        }
        session->timeout = statement_timeout(t.dbparm);
        sqlite3_busy_handler(session->db, sqlite_session::busy, session.get());
        sqlite3_progress_handler(session->db, 10000, sqlite_session::progress, session.get());
        session_ = std::move(session);
        in_transaction_ = false;
        // Reading the schema proves that the file is a database.
        std::vector<QStringList> rows;
        if (query(QStringLiteral("select count(*) from sqlite_master"), {}, rows, 1) < 0) {
            const long code = owner().sqldbcode;
            const QString text = owner().sqlerrtext;
            disconnect();
            return fail(code, QStringLiteral("%1: %2").arg(text, path));
        }
        return ok();
    }

    void disconnect() override
    {
        if (!session_)
            return;
        if (!sqlite3_get_autocommit(session_->db))
            sqlite3_exec(session_->db, "rollback", nullptr, nullptr, nullptr);
        session_.reset();
        in_transaction_ = false;
    }

    bool connected() const override { return session_ != nullptr; }

    long execute(const QString& sql, const QStringList& params) override
    {
        std::vector<QStringList> rows;
        return query(sql, params, rows, 0);
    }

    long query(const QString& sql, const QStringList& params, std::vector<QStringList>& rows,
               std::size_t max_rows) override
    {
        if (begin() < 0)
            return -1;
        sqlite3_stmt* stmt = prepare(sql, params);
        if (stmt == nullptr)
            return -1;
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            if (rows.size() >= max_rows)
                continue; // run to the end so that the statement's effects are complete
            QStringList row;
            const int columns = sqlite3_column_count(stmt);
            for (int c = 0; c < columns; ++c) {
                if (sqlite3_column_type(stmt, c) == SQLITE_NULL) {
                    row << QString();
                } else {
                    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
                    row << text_of(text, std::size_t(sqlite3_column_bytes(stmt, c)));
                }
            }
            rows.push_back(std::move(row));
        }
        const long result = rc == SQLITE_DONE ? ok() : error();
        sqlite3_finalize(stmt);
        sync_transaction();
        return result;
    }

    std::unique_ptr<blob_reader> open_blob(const QString& table, const QString& column,
                                           const QString& where, const QStringList& params) override
    {
        std::vector<QStringList> rows;
        // typeof() reads the type from the record header without loading the value.
        const QString sql =
            QStringLiteral("select rowid, typeof(%1) from %2 where %3").arg(column, table, where);
        if (query(sql, params, rows, 1) < 0)
            return nullptr;
        if (rows.empty()) {
            ok(100);
            return nullptr;
        }
        if (rows.front().at(1) == QLatin1String("null")) {
            ok();
            return std::make_unique<sqlite_blob_reader>(owner(), session_, nullptr);
        }
        sqlite3_blob* blob = nullptr;
        const int rc = sqlite3_blob_open(session_->db, "main", table.toUtf8().constData(),
                                         column.toUtf8().constData(),
                                         rows.front().at(0).toLongLong(), 0, &blob);
        if (rc != SQLITE_OK) {
            error();
            sqlite3_blob_close(blob);
            return nullptr;
        }
        ok();
        return std::make_unique<sqlite_blob_reader>(owner(), session_, blob);
    }

    std::unique_ptr<blob_writer> insert_blob(const QString& table, const QStringList& columns,
                                             const QStringList& values, const QString& blob_column,
                                             std::int64_t size) override
    {
        const int limit = sqlite3_limit(session_->db, SQLITE_LIMIT_LENGTH, -1);
        if (size > limit) {
            fail(SQLITE_TOOBIG,
                 QStringLiteral("a value of %1 bytes exceeds SQLite's limit of %2 bytes per value")
                     .arg(size)
                     .arg(limit));
            return nullptr;
        }
        const QString sql =
            insert_statement(table, columns, blob_column, QStringLiteral("zeroblob(%1)").arg(size));
        if (execute(sql, values) < 0)
            return nullptr;
        sqlite3_blob* blob = nullptr;
        const int rc = sqlite3_blob_open(session_->db, "main", table.toUtf8().constData(),
                                         blob_column.toUtf8().constData(),
                                         sqlite3_last_insert_rowid(session_->db), 1, &blob);
        if (rc != SQLITE_OK) {
            error();
            sqlite3_blob_close(blob);
            return nullptr;
        }
        ok();
        return std::make_unique<sqlite_blob_writer>(owner(), session_, blob, size);
    }

    long commit() override { return end(QStringLiteral("commit")); }
    long rollback() override { return end(QStringLiteral("rollback")); }

    long error() const
    {
        const int code = sqlite3_errcode(session_->db);
        switch (std::exchange(session_->stopped, sqlite_session::stop::none)) {
        case sqlite_session::stop::timed_out:
            return fail(code, QStringLiteral("database is locked: another connection held it for "
                                             "%1 s")
                                  .arg(session_->timeout));
        case sqlite_session::stop::interrupted:
            return fail(code, QStringLiteral("interrupted: the program was asked to stop"));
        case sqlite_session::stop::none:
            break;
        }
        return fail(code, QString::fromUtf8(sqlite3_errmsg(session_->db)));
    }

private:
    long begin()
    {
        if (owner().autocommit || in_transaction_)
            return 0;
        if (sqlite3_exec(session_->db, "begin", nullptr, nullptr, nullptr) != SQLITE_OK)
            return error();
        in_transaction_ = true;
        return 0;
    }

    long end(const QString& verb)
    {
        if (sqlite3_get_autocommit(session_->db)) { // nothing open
            in_transaction_ = false;
            return ok();
        }
        const int rc =
            sqlite3_exec(session_->db, verb.toLatin1().constData(), nullptr, nullptr, nullptr);
        const long result = rc == SQLITE_OK ? ok() : error();
        sync_transaction();
        return result;
    }

    // SQLite ends a transaction by itself after some errors; follow it.
    void sync_transaction() { in_transaction_ = !sqlite3_get_autocommit(session_->db); }

    sqlite3_stmt* prepare(const QString& sql, const QStringList& params)
    {
        const QByteArray text = sql.toUtf8();
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(session_->db, text.constData(), int(text.size()), &stmt, nullptr) !=
            SQLITE_OK) {
            error();
            sqlite3_finalize(stmt);
            return nullptr;
        }
        if (stmt == nullptr) { // only blanks or comments
            fail(SQLITE_MISUSE, QStringLiteral("empty statement"));
            return nullptr;
        }
        if (sqlite3_bind_parameter_count(stmt) != params.size()) {
            fail(SQLITE_RANGE, QStringLiteral("the statement takes %1 parameters, %2 given")
                                   .arg(sqlite3_bind_parameter_count(stmt))
                                   .arg(params.size()));
            sqlite3_finalize(stmt);
            return nullptr;
        }
        for (int i = 0; i < params.size(); ++i) {
            int rc;
            if (params.at(i).isNull()) {
                rc = sqlite3_bind_null(stmt, i + 1);
            } else {
                const QByteArray value = params.at(i).toUtf8();
                rc = sqlite3_bind_text64(stmt, i + 1, value.constData(),
                                         sqlite3_uint64(value.size()), SQLITE_TRANSIENT,
                                         SQLITE_UTF8);
            }
            if (rc != SQLITE_OK) {
                error();
                sqlite3_finalize(stmt);
                return nullptr;
            }
        }
        return stmt;
    }

    std::shared_ptr<sqlite_session> session_;
    bool in_transaction_ = false;
};

long disconnected(transaction& owner)
{
    return backend::fail(owner, SQLITE_MISUSE, QStringLiteral("the connection was closed"));
}

std::int64_t sqlite_blob_reader::read(std::span<std::byte> buffer)
{
    if (blob_ == nullptr || buffer.empty() || offset_ >= size_)
        return 0;
    if (session_.expired())
        return disconnected(owner_);
    const int n = int(std::min<std::int64_t>(
        {std::int64_t(buffer.size()), size_ - offset_, std::int64_t(INT_MAX)}));
    const int rc = sqlite3_blob_read(blob_, buffer.data(), n, int(offset_));
    if (rc != SQLITE_OK)
        return backend::fail(owner_, rc, QString::fromUtf8(sqlite3_errstr(rc)));
    offset_ += n;
    return n;
}

long sqlite_blob_writer::write(std::span<const std::byte> data)
{
    if (session_.expired())
        return disconnected(owner_);
    if (std::int64_t(data.size()) > size_ - offset_)
        return backend::fail(owner_, SQLITE_TOOBIG,
                             QStringLiteral("more bytes written than the %1 announced").arg(size_));
    while (!data.empty()) {
        const int n = int(std::min<std::size_t>(data.size(), std::size_t(blob_piece)));
        const int rc = sqlite3_blob_write(blob_, data.data(), n, int(offset_));
        if (rc != SQLITE_OK)
            return backend::fail(owner_, rc, QString::fromUtf8(sqlite3_errstr(rc)));
        offset_ += n;
        data = data.subspan(std::size_t(n));
    }
    return backend::ok(owner_);
}

long sqlite_blob_writer::finish()
{
    if (session_.expired())
        return disconnected(owner_);
    if (offset_ != size_)
        return backend::fail(
            owner_, SQLITE_MISUSE,
            QStringLiteral("%1 of %2 announced bytes written").arg(offset_).arg(size_));
    const int rc = sqlite3_blob_close(blob_);
    blob_ = nullptr;
    if (rc != SQLITE_OK)
        return backend::fail(owner_, rc, QString::fromUtf8(sqlite3_errstr(rc)));
    return backend::ok(owner_);
}

} // namespace

std::unique_ptr<backend> make_sqlite_backend(transaction& owner)
{
    return std::make_unique<sqlite_backend>(owner);
}

} // namespace rt::detail
