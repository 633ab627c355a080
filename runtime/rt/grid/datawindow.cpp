// The grid: its definition, rows, describe, evaluate and sort.

#include <rt/grid/datawindow_p.h>

#include <algorithm>
#include <numeric>

namespace rt {

namespace {

// Computed fields that refer to each other are followed this deep, then taken as faulty (a cycle).
constexpr int max_compute_depth = 32;

const QString bang = QStringLiteral("!");
const QString question = QStringLiteral("?");

QString kind_text(dw_object_kind kind)
{
    switch (kind) {
    case dw_object_kind::column:
        return QStringLiteral("column");
    case dw_object_kind::compute:
        return QStringLiteral("compute");
    case dw_object_kind::text:
        return QStringLiteral("text");
    }
    return bang;
}

// Reads a declared column type: char(n), long, ulong, int, uint, number, real, double,
// decimal(n). Returns false for anything else.
bool read_coltype(const QString& type, bool& numeric)
{
    const QString t = type.toLower();
    const QString base = t.section(u'(', 0, 0);
    static const QStringList numbers = {QStringLiteral("long"),   QStringLiteral("ulong"),
                                        QStringLiteral("int"),    QStringLiteral("uint"),
                                        QStringLiteral("number"), QStringLiteral("real"),
                                        QStringLiteral("double"), QStringLiteral("decimal")};
    if (base == u"char" || base == u"string") {
        numeric = false;
    } else if (numbers.contains(base)) {
        numeric = true;
    } else {
        return false;
    }
    if (t.contains(u'(')) {
        bool ok = false;
        const int n = t.section(u'(', 1).chopped(1).toInt(&ok);
        if (!ok || n < 0 || !t.endsWith(u')'))
            return false;
    }
    return true;
}

// Orders row numbers by the sort keys. Null sorts before every value, numbers compare as numbers
// and texts as texts. (A type of this file, so that the sort's code stays inside the library.)
struct row_order {
    const std::vector<std::vector<dw_value>>& rows;
    const std::vector<std::pair<int, bool>>& keys;

    static int compare(const dw_value& a, const dw_value& b)
    {
        if (a.index() != b.index())
            return a.index() < b.index() ? -1 : 1;
        if (const auto* x = std::get_if<decimal>(&a)) {
            const auto& y = std::get<decimal>(b);
            return *x < y ? -1 : (y < *x ? 1 : 0);
        }
        if (const auto* s = std::get_if<QString>(&a))
            return s->compare(std::get<QString>(b));
        return 0;
    }

    bool operator()(std::size_t a, std::size_t b) const
    {
        for (const auto& [column, descending] : keys) {
            const auto k = static_cast<std::size_t>(column);
            const int c = compare(rows[a][k], rows[b][k]);
            if (c != 0)
                return descending ? c > 0 : c < 0;
        }
        return a < b; // equal rows keep their order: the sort is stable
    }
};

QString attr_text(const detail::syntax_attrs& attrs, QStringView key, const QString& fallback = {})
{
    const auto* node = detail::find_attr(attrs, key);
    return node && !node->list ? node->text : fallback;
}

} // namespace

QString dw_value_text(const dw_value& value)
{
    if (const auto* s = std::get_if<QString>(&value))
        return *s;
    if (const auto* d = std::get_if<decimal>(&value))
        return d->to_text();
    return {};
}

datawindow::datawindow() = default;
datawindow::~datawindow() = default;

int datawindow::create(const QString& syntax, QString& error)
{
    columns_.clear();
    objects_.clear();
    rows_.clear();
    object_index_.clear();
    column_index_.clear();
    compute_functions_.clear();
    sort_keys_.clear();
    expressions_.clear();

    auto fail = [&](const QString& what) {
        error = what;
        columns_.clear();
        objects_.clear();
        object_index_.clear();
        column_index_.clear();
        return -1;
    };

    const auto def = detail::parse_definition(syntax, error);
    if (!def)
        return fail(error);
    if (def->release > runtime_major_version)
        return fail(QStringLiteral("release %1 is newer than this runtime").arg(def->release));

    std::vector<const detail::syntax_entry*> presentation;
    bool have_table = false;
    for (const auto& entry : def->entries) {
        if (entry.keyword != u"table") {
            presentation.push_back(&entry);
            continue;
        }
        if (have_table)
            return fail(QStringLiteral("more than one table"));
        have_table = true;
        for (const auto& [key, value] : entry.attrs) {
            if (key != u"column")
                continue;
            if (!value.list)
                return fail(QStringLiteral("a column needs its attributes in parentheses"));
            dw_column c;
            c.coltype = attr_text(*value.list, u"type");
            if (!read_coltype(c.coltype, c.numeric))
                return fail(QStringLiteral("column %1: unknown type \"%2\"")
                                .arg(columns_.size() + 1)
                                .arg(c.coltype));
            c.dbname = attr_text(*value.list, u"dbname");
            c.name = attr_text(*value.list, u"name");
            if (c.name.isEmpty()) // the name defaults to the database name without its table
                c.name = c.dbname.section(u'.', -1);
            if (c.name.isEmpty())
                return fail(QStringLiteral("column %1 has no name").arg(columns_.size() + 1));
            const QString key_name = c.name.toLower();
            if (column_index_.contains(key_name))
                return fail(QStringLiteral("column name %1 used twice").arg(c.name));
            // Code table: "display<tab>value/display<tab>value/".
            const QString values = attr_text(*value.list, u"values");
            for (const QString& pair : values.split(u'/', Qt::SkipEmptyParts)) {
                const qsizetype tab = pair.indexOf(u'\t');
                if (tab < 0)
                    return fail(
                        QStringLiteral("column %1: code table entry without a value").arg(c.name));
                c.code_table.emplace_back(pair.left(tab), pair.mid(tab + 1));
            }
            column_index_.insert(key_name, static_cast<int>(columns_.size()));
            columns_.push_back(std::move(c));
        }
    }
    if (!have_table || columns_.empty())
        return fail(QStringLiteral("the definition has no table columns"));

    for (const auto* entry : presentation) {
        dw_object o;
        if (entry->keyword == u"column")
            o.kind = dw_object_kind::column;
        else if (entry->keyword == u"compute")
            o.kind = dw_object_kind::compute;
        else if (entry->keyword == u"text")
            o.kind = dw_object_kind::text;
        else
            continue; // header(), detail(), datawindow() and the like carry nothing used here
        const auto& attrs = entry->attrs;
        o.name = attr_text(attrs, u"name");
        if (o.kind == dw_object_kind::column) {
            int column = 0;
            if (const auto* id = detail::find_attr(attrs, u"id"); id && !id->list) {
                bool ok = false;
                column = id->text.toInt(&ok);
                if (!ok || column < 1 || column > column_count())
                    return fail(
                        QStringLiteral("column object with a wrong id \"%1\"").arg(id->text));
            } else {
                column = column_number(o.name);
            }
            if (column == 0)
                return fail(QStringLiteral("column object %1 has no table column").arg(o.name));
            o.column = column;
            o.name = columns_[static_cast<std::size_t>(column - 1)].name;
        }
        if (o.name.isEmpty())
            return fail(QStringLiteral("an object of type %1 has no name").arg(entry->keyword));
        o.band = attr_text(attrs, u"band", o.band).toLower();
        const QString visible = attr_text(attrs, u"visible", QStringLiteral("1"));
        if (visible != u"1" && visible != u"0")
            return fail(QStringLiteral("object %1: visible must be 1 or 0").arg(o.name));
        o.visible = visible == u"1";
        bool ok = true;
        o.x = attr_text(attrs, u"x", QStringLiteral("0")).toLong(&ok);
        if (!ok)
            return fail(QStringLiteral("object %1: x is not a number").arg(o.name));
        if (const auto* text = detail::find_attr(attrs, u"text"); text && !text->list)
            o.text = text->text;
        if (o.kind == dw_object_kind::compute) {
            o.expression = attr_text(attrs, u"expression");
            QString expression_error;
            auto compiled_expression = detail::parse_expression(o.expression, expression_error);
            if (!compiled_expression)
                return fail(QStringLiteral("compute %1: %2").arg(o.name, expression_error));
            expressions_.insert(o.expression, std::make_shared<const detail::dw_expression>(
                                                  std::move(*compiled_expression)));
        }
        const QString key_name = o.name.toLower();
        if (object_index_.contains(key_name))
            return fail(QStringLiteral("object name %1 used twice").arg(o.name));
        object_index_.insert(key_name, static_cast<int>(objects_.size()));
        objects_.push_back(std::move(o));
    }
    error.clear();
    return 1;
}

int datawindow::set_compute_function(const QString& name, dw_compute_function function)
{
    const dw_object* o = find_object(name);
    if (!o || o->kind != dw_object_kind::compute)
        return -1;
    compute_functions_.insert(name.toLower(), std::move(function));
    return 1;
}

long datawindow::insertrow(long before)
{
    if (before < 0 || before > rowcount() + 1)
        return -1;
    std::vector<dw_value> row(columns_.size());
    if (before == 0 || before == rowcount() + 1) {
        rows_.push_back(std::move(row));
        return rowcount();
    }
    rows_.insert(rows_.begin() + (before - 1), std::move(row));
    return before;
}

int datawindow::deleterow(long row)
{
    if (row < 1 || row > rowcount())
        return -1;
    rows_.erase(rows_.begin() + (row - 1));
    return 1;
}

int datawindow::setitem(long row, int column, const dw_value& value)
{
    if (row < 1 || row > rowcount() || column < 1 || column > column_count())
        return -1;
    const dw_column& c = columns_[static_cast<std::size_t>(column - 1)];
    dw_value& cell = rows_[static_cast<std::size_t>(row - 1)][static_cast<std::size_t>(column - 1)];
    if (const auto* s = std::get_if<QString>(&value); s && c.numeric) {
        const auto number = decimal::from_text(*s);
        if (!number)
            return -1;
        cell = *number;
    } else if (const auto* d = std::get_if<decimal>(&value); d && !c.numeric) {
        cell = d->to_text();
    } else {
        cell = value;
    }
    return 1;
}

int datawindow::setitem(long row, const QString& column, const dw_value& value)
{
    return setitem(row, column_number(column), value);
}

dw_value datawindow::getitem(long row, int column) const
{
    if (row < 1 || row > rowcount() || column < 1 || column > column_count())
        return {};
    return rows_[static_cast<std::size_t>(row - 1)][static_cast<std::size_t>(column - 1)];
}

int datawindow::column_number(QStringView name) const
{
    const auto it = column_index_.constFind(name.toString().toLower());
    return it == column_index_.cend() ? 0 : *it + 1;
}

const dw_object* datawindow::find_object(QStringView name) const
{
    const auto it = object_index_.constFind(name.toString().toLower());
    return it == object_index_.cend() ? nullptr : &objects_[static_cast<std::size_t>(*it)];
}

QString datawindow::lookup_display(long row, int column) const
{
    const dw_value value = getitem(row, column);
    const QString text = dw_value_text(value);
    if (std::holds_alternative<std::monostate>(value))
        return text;
    const dw_column& c = columns_[static_cast<std::size_t>(column - 1)];
    for (const auto& [display, code] : c.code_table) {
        if (c.numeric) {
            const auto number = decimal::from_text(code);
            if (number && *number == std::get<decimal>(value))
                return display;
        } else if (code == text) {
            return display;
        }
    }
    return text;
}

std::optional<dw_value> datawindow::value_of(QStringView name, long row, int depth) const
{
    if (depth > max_compute_depth || row < 1 || row > rowcount())
        return std::nullopt;
    if (const int column = column_number(name))
        return getitem(row, column);
    const dw_object* o = find_object(name);
    if (!o || o->kind != dw_object_kind::compute)
        return std::nullopt;
    if (const auto f = compute_functions_.constFind(o->name.toLower());
        f != compute_functions_.cend())
        return (*f)(*this, row);
    const auto e = compiled(o->expression);
    if (!e)
        return std::nullopt;
    return e->eval(*this, row, depth);
}

std::shared_ptr<const detail::dw_expression> datawindow::compiled(QStringView expression) const
{
    const QString key = expression.toString();
    if (const auto it = expressions_.constFind(key); it != expressions_.cend())
        return *it;
    QString error;
    auto e = detail::parse_expression(expression, error);
    std::shared_ptr<const detail::dw_expression> result;
    if (e)
        result = std::make_shared<const detail::dw_expression>(std::move(*e));
    // Faulty expressions are remembered too, so that a loop over rows parses each text once.
    expressions_.insert(key, result);
    return result;
}

QString datawindow::evaluate(QStringView expression, long row) const
{
    if (row < 1 || row > rowcount())
        return bang;
    const auto e = compiled(expression);
    if (!e)
        return bang;
    const auto value = e->eval(*this, row, 0);
    return value ? dw_value_text(*value) : bang;
}

QString datawindow::column_property(int column, QStringView prop) const
{
    const dw_column& c = columns_[static_cast<std::size_t>(column - 1)];
    if (prop == u"name")
        return c.name;
    if (prop == u"dbname")
        return c.dbname.isEmpty() ? question : c.dbname;
    if (prop == u"coltype")
        return c.coltype.toLower();
    if (prop == u"id")
        return QString::number(column);
    return bang;
}

QString datawindow::object_property(const dw_object& o, QStringView prop) const
{
    if (prop == u"name")
        return o.name;
    if (prop == u"type")
        return kind_text(o.kind);
    if (prop == u"band")
        return o.band;
    if (prop == u"visible")
        return o.visible ? QStringLiteral("1") : QStringLiteral("0");
    if (prop == u"x")
        return QString::number(o.x);
    if (prop == u"text")
        return o.kind != dw_object_kind::text ? bang : o.text ? *o.text : question;
    if (prop == u"expression")
        return o.kind == dw_object_kind::compute ? o.expression : bang;
    if (o.kind == dw_object_kind::column)
        return column_property(o.column, prop);
    return bang;
}

QString datawindow::describe(QStringView path) const
{
    const QStringView p = path.trimmed();
    if (auto call = detail::parse_evaluate(p))
        return evaluate(call->expression, call->row);
    const qsizetype dot = p.lastIndexOf(u'.');
    if (dot <= 0)
        return bang;
    const QString prop = p.mid(dot + 1).toString().toLower();
    const QStringView owner = p.left(dot);
    if (owner.compare(u"datawindow", Qt::CaseInsensitive) == 0) {
        if (prop != u"objects")
            return bang;
        QStringList names;
        names.reserve(static_cast<qsizetype>(objects_.size()));
        for (const auto& o : objects_)
            names.append(o.name);
        return names.join(u'\t');
    }
    if (owner.compare(u"datawindow.column", Qt::CaseInsensitive) == 0)
        return prop == u"count" ? QString::number(column_count()) : bang;
    int column = 0;
    if (owner.startsWith(u'#')) {
        bool ok = false;
        column = owner.mid(1).toInt(&ok);
        if (!ok || column < 1 || column > column_count())
            return bang;
    } else if (const dw_object* o = find_object(owner)) {
        return object_property(*o, prop);
    } else {
        column = column_number(owner);
        if (column == 0)
            return bang;
    }
    for (const auto& o : objects_)
        if (o.kind == dw_object_kind::column && o.column == column)
            return object_property(o, prop);
    // A column without a field on screen answers for its table part only.
    return column_property(column, prop);
}

int datawindow::setsort(const QString& criteria)
{
    const auto keys = detail::parse_sort(criteria);
    if (!keys)
        return -1;
    std::vector<std::pair<int, bool>> resolved;
    for (const auto& [name, descending] : *keys) {
        int column = 0;
        if (name.startsWith(u'#')) {
            bool ok = false;
            column = name.mid(1).toInt(&ok);
            if (!ok || column < 1 || column > column_count())
                return -1;
        } else {
            column = column_number(name);
        }
        if (column == 0)
            return -1;
        resolved.emplace_back(column - 1, descending);
    }
    sort_keys_ = std::move(resolved);
    return 1;
}

int datawindow::sort()
{
    if (sort_keys_.empty())
        return -1;
    // The rows are ordered through their numbers and moved once.
    std::vector<std::size_t> order(rows_.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), row_order{rows_, sort_keys_});
    std::vector<std::vector<dw_value>> sorted;
    sorted.reserve(rows_.size());
    for (const std::size_t i : order)
        sorted.push_back(std::move(rows_[i]));
    rows_ = std::move(sorted);
    return 1;
}

} // namespace rt
