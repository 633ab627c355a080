#include <rt/db/transaction.h>
#include <rt/db/transaction_p.h>

#include <QRegularExpression>

#include <algorithm>
#include <iterator>

namespace rt {

dbms_kind dbms_kind_of(const QString& servername)
{
    const QString name = servername.trimmed();
    if (name.startsWith(QLatin1String("sqlite:"), Qt::CaseInsensitive))
        return dbms_kind::sqlite;
    if (name.startsWith(QLatin1String("odbc:"), Qt::CaseInsensitive))
        return dbms_kind::odbc;
    if (name.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive) ||
        name.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive))
        return dbms_kind::postgresql;
    return dbms_kind::sqlserver;
}

std::optional<QStringList> cursor::fetch()
{
    if (owner_ == nullptr)
        return std::nullopt;
    if (open_code_ < 0) {
        owner_->set_status(open_code_, open_dbcode_, open_errtext_);
        return std::nullopt;
    }
    if (next_ >= rows_.size()) {
        owner_->set_status(100);
        return std::nullopt;
    }
    owner_->set_status(0);
    return std::move(rows_[next_++]);
}

transaction::transaction() = default;
transaction::~transaction() = default;

void transaction::set_status(long code, long dbcode, const QString& text)
{
    if (code < 0 && backend_ && !backend_->connected() && lost_text_.isEmpty()) {
        lost_code_ = dbcode;
        lost_text_ = text;
    }
    sqlcode = code;
    sqldbcode = code < 0 ? dbcode : 0;
    sqlerrtext = code < 0 ? text : QString();
}

long transaction::connect()
{
    if (backend_)
        backend_->disconnect();
    backend_.reset();
    lost_text_.clear();
    refused_for_capacity_ = false;
    switch (dbms_kind_of(servername)) {
    case dbms_kind::sqlite:
        backend_ = detail::make_sqlite_backend(*this);
        break;
    case dbms_kind::postgresql:
        backend_ = detail::make_postgresql_backend(*this);
        break;
    case dbms_kind::odbc:
    case dbms_kind::sqlserver:
        backend_ = detail::make_odbc_backend(*this);
        break;
    }
    const long code = backend_->connect();
    if (code < 0) {
        backend_.reset();
        lost_text_.clear(); // never connected: nothing was lost
    }
    return code;
}

long transaction::disconnect()
{
    if (backend_)
        backend_->disconnect();
    backend_.reset();
    lost_text_.clear();
    set_status(0);
    return 0;
}

bool transaction::connected() const
{
    return backend_ && backend_->connected();
}

dbms_kind transaction::kind() const
{
    return dbms_kind_of(servername);
}

sql_dialect transaction::dialect() const
{
    if (backend_)
        return backend_->dialect();
    return kind() == dbms_kind::sqlserver ? sql_dialect::tsql : sql_dialect::standard;
}

long transaction::not_connected()
{
    if (!lost_text_.isEmpty())
        set_status(-1, lost_code_, lost_text_);
    else
        set_status(-1, -1, QStringLiteral("not connected to a database"));
    return sqlcode;
}

long transaction::execute(const QString& sql, const QStringList& params)
{
    if (!connected())
        return not_connected();
    return backend_->execute(sql, params);
}

std::optional<QString> transaction::select_value(const QString& sql, const QStringList& params)
{
    if (!connected()) {
        not_connected();
        return std::nullopt;
    }
    std::vector<QStringList> rows;
    if (backend_->query(sql, params, rows, 1) < 0)
        return std::nullopt;
    if (rows.empty() || rows.front().isEmpty()) {
        set_status(100);
        return std::nullopt;
    }
    set_status(0);
    return rows.front().front();
}

cursor transaction::open_cursor(const QString& sql, const QStringList& params)
{
    cursor c;
    c.owner_ = this;
    if (!connected())
        not_connected();
    else
        backend_->query(sql, params, c.rows_, static_cast<std::size_t>(-1));
    if (sqlcode < 0) {
        c.rows_.clear();
        c.open_code_ = sqlcode;
        c.open_dbcode_ = sqldbcode;
        c.open_errtext_ = sqlerrtext;
    }
    return c;
}

std::unique_ptr<blob_reader> transaction::open_blob(const QString& table, const QString& column,
                                                    const QString& where, const QStringList& params)
{
    if (!connected()) {
        not_connected();
        return nullptr;
    }
    return backend_->open_blob(table, column, where, params);
}

std::unique_ptr<blob_writer> transaction::insert_blob(const QString& table,
                                                      const QStringList& columns,
                                                      const QStringList& values,
                                                      const QString& blob_column, std::int64_t size)
{
    if (!connected()) {
        not_connected();
        return nullptr;
    }
    if (columns.size() != values.size() || size < 0) {
        set_status(-1, -1, QStringLiteral("insert_blob: invalid arguments"));
        return nullptr;
    }
    return backend_->insert_blob(table, columns, values, blob_column, size);
}

long transaction::commit()
{
    if (!connected())
        return not_connected();
    return backend_->commit();
}

long transaction::rollback()
{
    if (!connected())
        return not_connected();
    return backend_->rollback();
}

QString transaction::blob_size_sql(const QString& table, const QString& column)
{
    if (!connected()) {
        not_connected();
        return {};
    }
    switch (backend_->storage(table, column)) {
    case detail::blob_storage::unknown:
        return {};
    case detail::blob_storage::large_object:
        set_status(0);
        return detail::large_object_size_sql(column);
    case detail::blob_storage::bytes:
        break;
    }
    set_status(0);
    if (kind() == dbms_kind::sqlite)
        return QStringLiteral("length(%1)").arg(column);
    if (dialect() == sql_dialect::tsql)
        return QStringLiteral("cast(datalength(%1) as bigint)").arg(column);
    return QStringLiteral("octet_length(%1)").arg(column);
}

std::optional<bool> transaction::refers_to_large_objects(const QString& table,
                                                         const QString& column)
{
    if (!connected()) {
        not_connected();
        return std::nullopt;
    }
    const detail::blob_storage storage = backend_->storage(table, column);
    if (storage == detail::blob_storage::unknown)
        return std::nullopt;
    set_status(0);
    return storage == detail::blob_storage::large_object;
}

long transaction::delete_blob_rows(const QString& table, const QString& blob_column,
                                   const QString& where, const QStringList& params)
{
    if (!connected())
        return not_connected();
    const detail::blob_storage storage = backend_->storage(table, blob_column);
    if (storage == detail::blob_storage::unknown)
        return sqlcode;
    if (storage == detail::blob_storage::large_object &&
        !select_value(QStringLiteral("select count(lo_unlink(%1)) from %2 where %3")
                          .arg(blob_column, table, where),
                      params))
        return sqlcode;
    return execute(QStringLiteral("delete from %1 where %2").arg(table, where), params);
}

namespace detail {

blob_storage backend::postgresql_storage(const QString& table, const QString& column)
{
    const auto key = std::pair(table, column);
    if (const auto known = storage_.find(key); known != storage_.end())
        return known->second;
    std::vector<QStringList> rows;
    if (query(QStringLiteral("select format_type(atttypid, null) from pg_attribute where attrelid "
                             "= cast(? as regclass) and attname = ? and not attisdropped"),
              {table, column}, rows, 1) < 0)
        return blob_storage::unknown;
    const blob_storage found = !rows.empty() && rows.front().front() == QLatin1String("oid")
                                   ? blob_storage::large_object
                                   : blob_storage::bytes;
    storage_.emplace(key, found);
    return found;
}

QString large_object_size_sql(const QString& column)
{
    // The end offset of a descriptor opened for reading (262144: INV_READ).
    return QStringLiteral("case when %1 is null then null else lo_lseek64(lo_open(%1, 262144), "
                          "0, 2) end")
        .arg(column);
}

bool capacity_refusal(QStringView sqlstate, long native_error, QStringView message)
{
    if (sqlstate == u"53300" || sqlstate == u"57P03")
        return true;
    switch (native_error) {
    case 17809: // "Could not connect because the maximum number of user connections …"
    case 17187: // "SQL Server is not ready to accept new client connections …"
    case 18401: // "Login failed … Server is in script upgrade mode …"
        return true;
    default:
        break;
    }
    // psqlODBC reports a refused log-in as 08001 with libpq's message, and PgBouncer sends its
    // own refusal as a protocol error (08P01): both are told apart by the server's text (as the
    // server writes it with lc_messages in English, its default).
    static const char16_t* const texts[] = {
        u"too many clients already",                             // 53300
        u"remaining connection slots are reserved",              // 53300
        u"too many connections for",                             // 53300: role, database
        u"the database system is starting up",                   // 57P03
        u"the database system is shutting down",                 // 57P03
        u"the database system is in recovery mode",              // 57P03
        u"the database system is not yet accepting connections", // 57P03
        u"the database system is not accepting connections",     // 57P03
        u"no more connections allowed",                          // PgBouncer: max_client_conn
    };
    return std::any_of(std::begin(texts), std::end(texts),
                       [&](const char16_t* text) { return message.contains(text); });
}

QString pg_login_error(const QString& message)
{
    // Server errors read "…failed: SEVERITY:  SQLSTATE: text", each followed by its LOCATION
    // line. When libpq tried more than one address or encryption, the last server error tells.
    static const QRegularExpression server_error(
        QStringLiteral("(?:FATAL|ERROR|PANIC):  ([0-9A-Z]{5}): (.*)$"),
        QRegularExpression::MultilineOption);
    QString found;
    for (auto it = server_error.globalMatch(message); it.hasNext();) {
        const auto m = it.next();
        found = m.captured(1) + QStringLiteral(": ") + m.captured(2).trimmed();
    }
    if (!found.isEmpty())
        return found;
    QStringList lines = message.trimmed().split(QLatin1Char('\n'));
    lines.removeIf([](const QString& line) { return line.startsWith(QLatin1String("LOCATION:")); });
    return QStringLiteral("08001: ") + lines.join(QLatin1Char('\n')).trimmed();
}

QString timed_out_text(int seconds)
{
    return QStringLiteral("the database server did not answer within %1 s; the connection was "
                          "closed")
        .arg(seconds);
}

QString interrupted_text()
{
    return QStringLiteral("the wait for the database server was interrupted; the connection was "
                          "closed");
}

QString text_of(const char* data, std::size_t size)
{
    QString text = QString::fromUtf8(data, static_cast<qsizetype>(size));
    if (text.isNull())
        text = QString(QLatin1String(""));
    return text;
}

QString insert_statement(const QString& table, const QStringList& columns,
                         const QString& blob_column, const QString& blob_value)
{
    QStringList marks;
    for (qsizetype i = 0; i < columns.size(); ++i)
        marks << QStringLiteral("?");
    QStringList names = columns;
    names << blob_column;
    marks << blob_value;
    return QStringLiteral("insert into %1 (%2) values (%3)")
        .arg(table, names.join(QLatin1String(", ")), marks.join(QLatin1String(", ")));
}

QString number_placeholders(const QString& sql)
{
    QString out;
    out.reserve(sql.size() + 8);
    int number = 0;
    const qsizetype n = sql.size();
    qsizetype i = 0;
    auto copy_until = [&](qsizetype end) {
        out += QStringView(sql).mid(i, end - i);
        i = end;
    };
    while (i < n) {
        const QChar c = sql.at(i);
        if (c == QLatin1Char('?')) {
            out += QLatin1Char('$') + QString::number(++number);
            ++i;
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            // E'…' strings take backslash escapes; a doubled quote is a quote in every form.
            const bool escapes =
                c == QLatin1Char('\'') && i > 0 &&
                (sql.at(i - 1) == QLatin1Char('E') || sql.at(i - 1) == QLatin1Char('e'));
            qsizetype j = i + 1;
            while (j < n) {
                if (escapes && sql.at(j) == QLatin1Char('\\')) {
                    j += 2;
                } else if (sql.at(j) == c) {
                    if (j + 1 < n && sql.at(j + 1) == c)
                        j += 2;
                    else
                        break;
                } else {
                    ++j;
                }
            }
            copy_until(std::min(n, j + 1));
        } else if (c == QLatin1Char('-') && i + 1 < n && sql.at(i + 1) == QLatin1Char('-')) {
            const qsizetype eol = sql.indexOf(QLatin1Char('\n'), i);
            copy_until(eol < 0 ? n : eol);
        } else if (c == QLatin1Char('/') && i + 1 < n && sql.at(i + 1) == QLatin1Char('*')) {
            const qsizetype end = sql.indexOf(QLatin1String("*/"), i + 2);
            copy_until(end < 0 ? n : end + 2);
        } else if (c == QLatin1Char('$')) {
            // A dollar quote $tag$…$tag$; a $ followed by a digit is an existing placeholder.
            static const QRegularExpression tag(
                QStringLiteral("\\$(?:[A-Za-z_][A-Za-z0-9_]*)?\\$"));
            const auto m = tag.match(QStringView(sql), i, QRegularExpression::NormalMatch,
                                     QRegularExpression::AnchorAtOffsetMatchOption);
            const bool in_identifier =
                i > 0 && (sql.at(i - 1).isLetterOrNumber() || sql.at(i - 1) == QLatin1Char('_'));
            if (m.hasMatch() && !in_identifier) {
                const qsizetype end = sql.indexOf(m.captured(), i + m.capturedLength());
                copy_until(end < 0 ? n : end + m.capturedLength());
            } else {
                copy_until(i + 1);
            }
        } else {
            copy_until(i + 1);
        }
    }
    return out;
}

} // namespace detail
} // namespace rt
