// The grid: its definition, rows and items, and sort.

#include <rt/grid/datawindow_p.h>

#include <algorithm>
#include <numeric>

namespace rt {

namespace {

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

datawindow::datawindow() : d(std::make_unique<Private>(*this)) {}
datawindow::~datawindow() = default;

long datawindow::rowcount() const
{
    return d->row_count();
}

int datawindow::column_count() const
{
    return d->column_count();
}

const std::vector<dw_column>& datawindow::columns() const
{
    return d->columns;
}

const std::vector<dw_object>& datawindow::objects() const
{
    return d->objects;
}

int datawindow::create(const QString& syntax, QString& error)
{
    d->columns.clear();
    d->objects.clear();
    d->rows.clear();
    d->object_index.clear();
    d->column_index.clear();
    d->compute_functions.clear();
    d->sort_keys.clear();
    d->expressions.clear();

    auto fail = [&](const QString& what) {
        error = what;
        d->columns.clear();
        d->objects.clear();
        d->object_index.clear();
        d->column_index.clear();
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
                                .arg(d->columns.size() + 1)
                                .arg(c.coltype));
            c.dbname = attr_text(*value.list, u"dbname");
            c.name = attr_text(*value.list, u"name");
            if (c.name.isEmpty()) // the name defaults to the database name without its table
                c.name = c.dbname.section(u'.', -1);
            if (c.name.isEmpty())
                return fail(QStringLiteral("column %1 has no name").arg(d->columns.size() + 1));
            const QString key_name = c.name.toLower();
            if (d->column_index.contains(key_name))
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
            d->column_index.insert(key_name, static_cast<int>(d->columns.size()));
            d->columns.push_back(std::move(c));
        }
    }
    if (!have_table || d->columns.empty())
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
                if (!ok || column < 1 || column > d->column_count())
                    return fail(
                        QStringLiteral("column object with a wrong id \"%1\"").arg(id->text));
            } else {
                column = column_number(o.name);
            }
            if (column == 0)
                return fail(QStringLiteral("column object %1 has no table column").arg(o.name));
            o.column = column;
            o.name = d->columns[static_cast<std::size_t>(column - 1)].name;
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
            d->expressions.insert(o.expression, std::make_shared<const detail::dw_expression>(
                                                    std::move(*compiled_expression)));
        }
        const QString key_name = o.name.toLower();
        if (d->object_index.contains(key_name))
            return fail(QStringLiteral("object name %1 used twice").arg(o.name));
        d->object_index.insert(key_name, static_cast<int>(d->objects.size()));
        d->objects.push_back(std::move(o));
    }
    error.clear();
    return 1;
}

int datawindow::set_compute_function(const QString& name, dw_compute_function function)
{
    const dw_object* o = d->find_object(name);
    if (!o || o->kind != dw_object_kind::compute)
        return -1;
    d->compute_functions.emplace(name.toLower(), std::move(function));
    return 1;
}

long datawindow::insertrow(long before)
{
    if (before < 0 || before > d->row_count() + 1)
        return -1;
    std::vector<dw_value> row(d->columns.size());
    if (before == 0 || before == d->row_count() + 1) {
        d->rows.push_back(std::move(row));
        return d->row_count();
    }
    d->rows.insert(d->rows.begin() + (before - 1), std::move(row));
    return before;
}

int datawindow::deleterow(long row)
{
    if (row < 1 || row > d->row_count())
        return -1;
    d->rows.erase(d->rows.begin() + (row - 1));
    return 1;
}

int datawindow::setitem(long row, int column, const dw_value& value)
{
    if (row < 1 || row > d->row_count() || column < 1 || column > d->column_count())
        return -1;
    const dw_column& c = d->columns[static_cast<std::size_t>(column - 1)];
    dw_value& cell =
        d->rows[static_cast<std::size_t>(row - 1)][static_cast<std::size_t>(column - 1)];
    if (const auto* s = std::get_if<QString>(&value); s && c.numeric) {
        const auto number = decimal::from_text(*s);
        if (!number)
            return -1;
        cell = *number;
    } else if (const auto* number = std::get_if<decimal>(&value); number && !c.numeric) {
        cell = number->to_text();
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
    if (row < 1 || row > d->row_count() || column < 1 || column > d->column_count())
        return {};
    return d->rows[static_cast<std::size_t>(row - 1)][static_cast<std::size_t>(column - 1)];
}

int datawindow::column_number(QStringView name) const
{
    const auto it = d->column_index.constFind(name.toString().toLower());
    return it == d->column_index.cend() ? 0 : *it + 1;
}

const dw_object* datawindow::Private::find_object(QStringView name) const
{
    const auto it = object_index.constFind(name.toString().toLower());
    return it == object_index.cend() ? nullptr : &objects[static_cast<std::size_t>(*it)];
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
            if (!ok || column < 1 || column > d->column_count())
                return -1;
        } else {
            column = column_number(name);
        }
        if (column == 0)
            return -1;
        resolved.emplace_back(column - 1, descending);
    }
    d->sort_keys = std::move(resolved);
    return 1;
}

int datawindow::sort()
{
    if (d->sort_keys.empty())
        return -1;
    // The rows are ordered through their numbers and moved once.
    std::vector<std::size_t> order(d->rows.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), row_order{d->rows, d->sort_keys});
    std::vector<std::vector<dw_value>> sorted;
    sorted.reserve(d->rows.size());
    for (const std::size_t i : order)
        sorted.push_back(std::move(d->rows[i]));
    d->rows = std::move(sorted);
    return 1;
}

} // namespace rt
