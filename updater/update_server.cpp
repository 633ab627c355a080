#include "update_server.h"

namespace qorv {

std::optional<rt::decimal> update_server::newest_version(const rt::decimal& local)
{
    const QString sql =
        sqlca_.kind() == rt::dbms_kind::sqlserver
            ? QStringLiteral("select top 1 ver from t_file where ver > ? order by ver desc")
            : QStringLiteral("select ver from t_file where ver > ? order by ver desc limit 1");
    const auto value = sqlca_.select_value(sql, {local.to_text()});
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
    if (sqlca_.sqlcode < 0)
        return std::nullopt;
    return value ? value->toLongLong() : 0;
}

rt::cursor update_server::file_names(const QString& version)
{
    return sqlca_.open_cursor(
        QStringLiteral("select filename from t_file where ver = ? order by filename"), {version});
}

std::unique_ptr<rt::blob_reader> update_server::contents(const QString& file_name,
                                                         const QString& version)
{
    // The version belongs in the condition: a file distributed in several versions has a row for
    // each of them.
    return sqlca_.open_blob(QStringLiteral("t_file"), QStringLiteral("filedata"),
                            QStringLiteral("filename = ? and ver = ?"), {file_name, version});
}

} // namespace qorv
