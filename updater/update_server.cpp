#include "update_server.h"

namespace qorv {

file_contents::file_contents(std::unique_ptr<rt::blob_reader> reader, update_server& server)
    : reader_(std::move(reader)), server_(server)
{
}

file_contents::~file_contents()
{
    reader_.reset();
    server_.end_read();
}

std::int64_t file_contents::read(std::span<std::byte> buffer)
{
    const std::int64_t n = reader_->read(buffer);
    if (n > 0)
        hash_.add(QByteArrayView(reinterpret_cast<const char*>(buffer.data()), n));
    return n;
}

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
    // The cursor holds every row once open, so the transaction can end at once. A table
    // without the column filehash fails the first query and is read as it always was.
    rt::cursor names = sqlca_.open_cursor(
        QStringLiteral("select filename, filehash from t_file where ver = ? order by filename"),
        {version});
    end_read();
    if (sqlca_.sqlcode >= 0)
        return names;
    names = sqlca_.open_cursor(
        QStringLiteral("select filename from t_file where ver = ? order by filename"), {version});
    end_read();
    return names;
}

std::unique_ptr<file_contents> update_server::contents(const QString& file_name,
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
    return std::make_unique<file_contents>(std::move(reader), *this);
}

} // namespace qorv
