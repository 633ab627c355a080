// The grid's questions: describe paths, evaluate() and the display texts of code tables.

#include <rt/grid/datawindow_p.h>

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

} // namespace

QString datawindow::lookup_display(long row, int column) const
{
    const dw_value value = getitem(row, column);
    const QString text = dw_value_text(value);
    if (std::holds_alternative<std::monostate>(value))
        return text;
    const dw_column& c = d->columns[static_cast<std::size_t>(column - 1)];
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

std::optional<dw_value> datawindow::Private::value_of(QStringView name, long row, int depth) const
{
    if (depth > max_compute_depth || row < 1 || row > row_count())
        return std::nullopt;
    if (const int column = q.column_number(name))
        return q.getitem(row, column);
    const dw_object* o = find_object(name);
    if (!o || o->kind != dw_object_kind::compute)
        return std::nullopt;
    if (const auto f = compute_functions.constFind(o->name.toLower());
        f != compute_functions.cend())
        return (*f)(q, row);
    const auto e = compiled(o->expression);
    if (!e)
        return std::nullopt;
    return eval(*e, row, depth);
}

std::shared_ptr<const detail::dw_expression>
datawindow::Private::compiled(QStringView expression) const
{
    const QString key = expression.toString();
    if (const auto it = expressions.constFind(key); it != expressions.cend())
        return *it;
    QString error;
    auto e = detail::parse_expression(expression, error);
    std::shared_ptr<const detail::dw_expression> result;
    if (e)
        result = std::make_shared<const detail::dw_expression>(std::move(*e));
    // Faulty expressions are remembered too, so that a loop over rows parses each text once.
    expressions.insert(key, result);
    return result;
}

QString datawindow::evaluate(QStringView expression, long row) const
{
    if (row < 1 || row > d->row_count())
        return bang;
    const auto e = d->compiled(expression);
    if (!e)
        return bang;
    const auto value = d->eval(*e, row, 0);
    return value ? dw_value_text(*value) : bang;
}

QString datawindow::Private::column_property(int column, QStringView prop) const
{
    const dw_column& c = columns[static_cast<std::size_t>(column - 1)];
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

QString datawindow::Private::object_property(const dw_object& o, QStringView prop) const
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
        names.reserve(static_cast<qsizetype>(d->objects.size()));
        for (const auto& o : d->objects)
            names.append(o.name);
        return names.join(u'\t');
    }
    if (owner.compare(u"datawindow.column", Qt::CaseInsensitive) == 0)
        return prop == u"count" ? QString::number(d->column_count()) : bang;
    int column = 0;
    if (owner.startsWith(u'#')) {
        bool ok = false;
        column = owner.mid(1).toInt(&ok);
        if (!ok || column < 1 || column > d->column_count())
            return bang;
    } else if (const dw_object* o = d->find_object(owner)) {
        return d->object_property(*o, prop);
    } else {
        column = column_number(owner);
        if (column == 0)
            return bang;
    }
    for (const auto& o : d->objects)
        if (o.kind == dw_object_kind::column && o.column == column)
            return d->object_property(o, prop);
    // A column without a field on screen answers for its table part only.
    return d->column_property(column, prop);
}

} // namespace rt
