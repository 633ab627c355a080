// Large values through ODBC: read with one statement per piece, written at execution of their
// insert statement (SQLPutData) or, on PostgreSQL, into a large object with lo_put().

#include "transaction_odbc_p.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace rt::detail::odbc {

namespace {

long closed(transaction& t)
{
    return backend::fail(t, -1, QStringLiteral("the connection was closed"));
}

// Reads a value with one statement per piece, so that no driver holds more than a piece of it.
class odbc_blob_reader final : public blob_reader {
public:
    // Each piece is a query of `piece_sql` whose first two markers take the piece's offset
    // (counted from 1) and length, followed by `params`; for a large object `params` holds its
    // oid and the markers take the oid, the offset (from 0) and the length.
    odbc_blob_reader(odbc_backend& backend, QString piece_sql, QStringList params,
                     std::int64_t size, bool null, bool large_object)
        : owner_(backend.owner()), backend_(&backend), session_(backend.session_),
          piece_sql_(std::move(piece_sql)), params_(std::move(params)), size_(size), null_(null),
          large_object_(large_object)
    {
    }
    std::int64_t size() const override { return size_; }
    bool is_null() const override { return null_; }

    std::int64_t read(std::span<std::byte> buffer) override
    {
        if (null_ || buffer.empty() || offset_ >= size_)
            return 0;
        if (session_.expired())
            return closed(owner_);
        std::size_t done = 0;
        while (done < buffer.size() && offset_ < size_) {
            if (start_ == piece_.size()) {
                const std::int64_t want = std::min(blob_piece, size_ - offset_);
                const QStringList params =
                    large_object_
                        ? QStringList{params_.front(), QString::number(offset_),
                                      QString::number(want)}
                        : QStringList{QString::number(offset_ + 1), QString::number(want)} +
                              params_;
                if (backend_->bytes_of(piece_sql_, params, piece_,
                                       QStringLiteral("the row of the value is gone")) < 0)
                    return -1;
                start_ = 0;
                if (piece_.isEmpty())
                    return backend::fail(owner_, -1,
                                         QStringLiteral("the value ended after %1 of %2 bytes")
                                             .arg(offset_)
                                             .arg(size_));
            }
            const std::size_t n =
                std::min(buffer.size() - done, std::size_t(piece_.size() - start_));
            std::memcpy(buffer.data() + done, piece_.constData() + start_, n);
            start_ += qsizetype(n);
            done += n;
            offset_ += std::int64_t(n);
        }
        backend::ok(owner_);
        return std::int64_t(done);
    }

private:
    transaction& owner_;
    odbc_backend* backend_; // valid while session_ is
    std::weak_ptr<odbc_session> session_;
    QString piece_sql_;
    QStringList params_; // the condition's, or the large object's oid
    std::int64_t size_;
    bool null_;
    bool large_object_;
    std::int64_t offset_ = 0;
    QByteArray piece_;
    qsizetype start_ = 0;
};

class odbc_blob_writer final : public blob_writer {
public:
    // A value sent at execution of its insert statement (stmt), or, with an oid, written into
    // a large object whose row exists already.
    odbc_blob_writer(odbc_backend& backend, SQLHSTMT stmt, parameters buffers, std::int64_t size,
                     QString oid)
        : owner_(backend.owner()), backend_(&backend), session_(backend.session_), stmt_(stmt),
          buffers_(std::move(buffers)), size_(size), oid_(std::move(oid))
    {
    }
    ~odbc_blob_writer() override
    {
        if (stmt_ != SQLHSTMT{} && !session_.expired()) {
            backend_->guarded([&] { return SQLCancel(stmt_); });
            if (!session_.expired())
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
            if (!oid_.isNull()) {
                statement stmt;
                parameters buffers;
                if (backend_->run(stmt,
                                  QStringLiteral("select lo_put(cast(? as oid), cast(? as "
                                                 "bigint), ?)"),
                                  {oid_, QString::number(offset_)}, buffers,
                                  {data.data(), std::int64_t(n)}) < 0)
                    return -1;
            } else {
                const auto rc = backend_->guarded([&] {
                    return SQLPutData(stmt_, const_cast<std::byte*>(data.data()), SQLLEN(n));
                });
                if (!rc)
                    return -1;
                if (!succeeded(*rc))
                    return diagnostics(owner_, SQL_HANDLE_STMT, stmt_);
            }
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
        done_ = true;
        if (!oid_.isNull())
            return backend::ok(owner_);
        if (size_ == 0) {
            static char nothing = 0;
            const auto rc = backend_->guarded([&] { return SQLPutData(stmt_, &nothing, 0); });
            if (!rc)
                return -1;
            if (!succeeded(*rc))
                return diagnostics(owner_, SQL_HANDLE_STMT, stmt_);
        }
        SQLPOINTER token = nullptr;
        const auto rc = backend_->guarded([&] { return SQLParamData(stmt_, &token); });
        if (!rc)
            return -1;
        if (!succeeded(*rc) && *rc != SQL_NO_DATA)
            return diagnostics(owner_, SQL_HANDLE_STMT, stmt_);
        return backend::ok(owner_);
    }

private:
    transaction& owner_;
    odbc_backend* backend_; // valid while session_ is
    std::weak_ptr<odbc_session> session_;
    SQLHSTMT stmt_;
    parameters buffers_; // bound to the statement until it has run
    std::int64_t size_;
    QString oid_; // null unless the value is a large object
    std::int64_t offset_ = 0;
    bool done_ = false;
};

} // namespace

std::unique_ptr<blob_reader> odbc_backend::open_blob(const QString& table, const QString& column,
                                                     const QString& where,
                                                     const QStringList& params)
{
    const blob_storage kind = storage(table, column);
    if (kind == blob_storage::unknown)
        return nullptr;
    std::vector<QStringList> rows;
    if (kind == blob_storage::large_object) {
        if (query(QStringLiteral("select %1, %2 from %3 where %4")
                      .arg(column, large_object_size_sql(column), table, where),
                  params, rows, 1) < 0)
            return nullptr;
        if (rows.empty()) {
            ok(100);
            return nullptr;
        }
        const bool null = rows.front().at(0).isNull();
        ok();
        return std::make_unique<odbc_blob_reader>(
            *this,
            QStringLiteral("select lo_get(cast(? as oid), cast(? as bigint), cast(? as "
                           "integer))"),
            QStringList{rows.front().at(0)}, null ? 0 : rows.front().at(1).toLongLong(), null,
            true);
    }
    const bool tsql = dialect_ == sql_dialect::tsql;
    const QString size = tsql ? QStringLiteral("cast(datalength(%1) as bigint)").arg(column)
                              : QStringLiteral("octet_length(%1)").arg(column);
    if (query(QStringLiteral("select %1 from %2 where %3").arg(size, table, where), params, rows,
              1) < 0)
        return nullptr;
    if (rows.empty()) {
        ok(100);
        return nullptr;
    }
    const bool null = rows.front().at(0).isNull();
    const QString piece =
        tsql ? QStringLiteral("select substring(%1, cast(? as bigint), cast(? as bigint)) from "
                              "%2 where %3")
             : QStringLiteral("select substring(%1 from cast(? as integer) for cast(? as "
                              "integer)) from %2 where %3");
    ok();
    return std::make_unique<odbc_blob_reader>(*this, piece.arg(column, table, where), params,
                                              null ? 0 : rows.front().at(0).toLongLong(), null,
                                              false);
}

std::unique_ptr<blob_writer>
odbc_backend::insert_blob(const QString& table, const QStringList& columns,
                          const QStringList& values, const QString& blob_column, std::int64_t size)
{
    const blob_storage kind = storage(table, blob_column);
    if (kind == blob_storage::unknown)
        return nullptr;
    if (kind == blob_storage::large_object) {
        // Created inside the transaction, so that a rollback removes the object with the row.
        std::vector<QStringList> rows;
        if (query(QStringLiteral("select lo_create(0)"), {}, rows, 1) < 0)
            return nullptr;
        const QString oid = rows.front().front();
        QStringList params = values;
        params << oid;
        if (execute(insert_statement(table, columns, blob_column, QStringLiteral("cast(? as oid)")),
                    params) < 0)
            return nullptr;
        ok();
        return std::make_unique<odbc_blob_writer>(*this, SQLHSTMT{}, parameters{}, size, oid);
    }
    statement stmt;
    parameters buffers;
    const QString sql = insert_statement(table, columns, blob_column, QStringLiteral("?"));
    const long rc = run(stmt, sql, values, buffers, {nullptr, size});
    if (rc < 0)
        return nullptr;
    if (rc != SQL_NEED_DATA) {
        fail(-1, QStringLiteral("the driver did not ask for the value's data"));
        return nullptr;
    }
    // Start sending the value: the driver asks for the one parameter given at execution.
    SQLPOINTER token = nullptr;
    const auto asked = guarded([&] { return SQLParamData(stmt.h, &token); });
    if (!asked)
        return nullptr;
    if (*asked != SQL_NEED_DATA) {
        diagnostics(owner(), SQL_HANDLE_STMT, stmt.h);
        return nullptr;
    }
    ok();
    return std::make_unique<odbc_blob_writer>(*this, std::exchange(stmt.h, SQLHSTMT{}),
                                              std::move(buffers), size, QString());
}

} // namespace rt::detail::odbc
