// Large values on PostgreSQL: read in pieces with pipelined queries, written into a large object
// with lo_put() in pieces.

#include "transaction_postgresql_p.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <utility>

namespace rt::detail::pg {

namespace {

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

} // namespace

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

} // namespace rt::detail::pg
