#pragma once

#include <rt/db/transaction.h>
#include <rt/value/decimal.h>
#include <rt/value/sha256.h>

#include <QString>

#include <memory>
#include <optional>

namespace qorv {

class update_server;

/// One file's contents on the server. Closing them ends the read transaction, so that no lock
/// or open transaction outlives the read while the window waits; the SHA-256 of every byte
/// read is kept on the way.
class file_contents final : public rt::blob_reader {
public:
    file_contents(std::unique_ptr<rt::blob_reader> reader, update_server& server);
    ~file_contents() override;
    std::int64_t size() const override { return reader_->size(); }
    bool is_null() const override { return reader_->is_null(); }
    std::int64_t read(std::span<std::byte> buffer) override;
    /// The SHA-256 of the bytes read so far, in lower-case hexadecimal; call once, at the end.
    QString sha256() { return hash_.hex(); }

private:
    std::unique_ptr<rt::blob_reader> reader_;
    update_server& server_;
    rt::sha256 hash_;
};

/// The statements the updater runs on table t_file, in the dialect of the connected server.
/// Each sets the transaction's status fields as the statement left them, and ends its read
/// transaction afterwards (a file's contents when they are closed): between statements the
/// updater holds no transaction and no lock on the server, however long the window waits.
class update_server {
public:
    explicit update_server(rt::transaction& sqlca) : sqlca_(sqlca) {}

    rt::transaction& transaction() { return sqlca_; }

    /// The largest version greater than `local`; std::nullopt when there is none (sqlcode 100)
    /// or on failure (sqlcode negative).
    std::optional<rt::decimal> newest_version(const rt::decimal& local);
    /// Number of files of `version`; std::nullopt on failure.
    std::optional<qint64> file_count(const QString& version);
    /// The names of the files of `version` in ascending order, each with its published
    /// SHA-256 as a second column when the table has the column filehash.
    rt::cursor file_names(const QString& version);
    /// The contents of one file of `version`; nullptr with sqlcode 100 when the row is gone.
    std::unique_ptr<file_contents> contents(const QString& file_name, const QString& version);

    /// Ends the current read transaction, keeping the status fields of the last statement.
    void end_read();

private:
    rt::transaction& sqlca_;
};

} // namespace qorv
