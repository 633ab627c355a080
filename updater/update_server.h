#pragma once

#include <rt/decimal.h>
#include <rt/transaction.h>

#include <QString>

#include <memory>
#include <optional>

namespace qorv {

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
    /// The names of the files of `version` in ascending order.
    rt::cursor file_names(const QString& version);
    /// The contents of one file of `version`; nullptr with sqlcode 100 when the row is gone.
    std::unique_ptr<rt::blob_reader> contents(const QString& file_name, const QString& version);

    /// Ends the current read transaction, keeping the status fields of the last statement.
    void end_read();

private:
    rt::transaction& sqlca_;
};

} // namespace qorv
