#include "update_server.h"

namespace qorv {

namespace {

/// A file's contents that end the read transaction when they are closed, so that no lock or
/// open transaction outlives the read while the window waits.
class closing_reader final : public rt::blob_reader {
public:
    closing_reader(std::unique_ptr<rt::blob_reader> reader, update_server& server)
        : reader_(std::move(reader)), server_(server)
    {
    }
    ~closing_reader() override
    {
        reader_.reset();
        server_.end_read();
    }
    std::int64_t size() const override { return reader_->size(); }
    bool is_null() const override { return reader_->is_null(); }
    std::int64_t read(std::span<std::byte> buffer) override { return reader_->read(buffer); }

private:
    std::unique_ptr<rt::blob_reader> reader_;
    update_server& server_;
};

} // namespace

void update_server::end_read()
{
    // Ending the transaction must not hide the outcome of the statement before it.
    const long code = sqlca_.sqlcode;
    const long dbcode = sqlca_.sqldbcode;
    const QString text = sqlca_.sqlerrtext;
    if (sqlca_.connected())
        sqlca_.rollback();
    sqlca_.sqlcode = code;
    sqlca_.sqldbcode = dbcode;
    sqlca_.sqlerrtext = text;
}

std::optional<rt::decimal> update_server::newest_version(const rt::decimal& local)
{
    const QString sql =
        sqlca_.dialect() == rt::sql_dialect::tsql
            ? QStringLiteral("select top 1 ver from t_file where ver > ? order by ver desc")
            : QStringLiteral("select ver from t_file where ver > ? order by ver desc limit 1");
    const auto value = sqlca_.select_value(sql, {local.to_text()});
    end_read();
    if (!value || value->isNull())
        return std::nullopt;
    if (auto number = rt::decimal::from_text(*value))
        return number;
    sqlca_.sqlcode = -1;
    sqlca_.sqldbcode = -1;
    sqlca_.sqlerrtext = QStringLiteral("t_file.ver holds a value that is not a number: ") + *value;
    return std::nullopt;
}

std::optional<qint64> update_server::file_count(const QString& version)
{
    const auto value = sqlca_.select_value(
        QStringLiteral("select count(filename) from t_file where ver = ?"), {version});
    end_read();
    if (sqlca_.sqlcode < 0)
        return std::nullopt;
    return value ? value->toLongLong() : 0;
}

rt::cursor update_server::file_names(const QString& version)
{
    // The cursor holds every row once open, so the transaction can end at once.
    rt::cursor names = sqlca_.open_cursor(
        QStringLiteral("select filename from t_file where ver = ? order by filename"), {version});
    end_read();
    return names;
}

std::unique_ptr<rt::blob_reader> update_server::contents(const QString& file_name,
                                                         const QString& version)
{
    // The version belongs in the condition: a file distributed in several versions has a row for
    // each of them.
    auto reader =
        sqlca_.open_blob(QStringLiteral("t_file"), QStringLiteral("filedata"),
                         QStringLiteral("filename = ? and ver = ?"), {file_name, version});
    if (!reader) {
        end_read();
        return nullptr;
    }
    return std::make_unique<closing_reader>(std::move(reader), *this);
}

} // namespace qorv
