// Grid export of what the user sees, written row by row.

#include "export_p.h"
#include <lumora/export/grid_export.h>

#include <rt/grid/xlsx.h>
#include <rt/value/errors.h>

#include <QStringList>

#include <memory>
#include <vector>

namespace lumora {

namespace {

const QString crlf = QStringLiteral("\r\n");

} // namespace

bool dw_saveas_exl(rt::datawindow* ad_dw, const QString& as_file)
{
    const detail::busy_pointer busy;
    if (!ad_dw)
        throw rt::null_object_reference();
    const QString header = QStringLiteral("release ") + QString::number(rt::runtime_major_version) +
                           u';' + crlf + QStringLiteral("table(");

    // The column-list store: heading text, object name and x of each exported object.
    auto list = std::make_unique<rt::datastore>();
    QString error;
    list->create(header + QStringLiteral("column=(type=char(1) name = ztext dbname=\"ztext\" )") +
                     crlf + QStringLiteral("column=(type=char(1) name = zcol dbname=\"zcol\" )") +
                     crlf + QStringLiteral("column=(type=long name = zx dbname=\"zx\" )") + crlf +
                     u')',
                 error);
    if (error.size() > 0)
        return false;

    QString objects = ad_dw->describe(u"datawindow.objects");
    QStringList names;
    for (qsizetype tab = objects.indexOf(u'\t'); tab >= 0; tab = objects.indexOf(u'\t')) {
        names.append(objects.left(tab));
        objects.remove(0, tab + 1);
    }
    names.append(objects);
    for (const QString& name : names) {
        const QString type = ad_dw->describe(QString(name + QStringLiteral(".type")));
        if ((type != u"column" && type != u"compute") ||
            ad_dw->describe(QString(name + QStringLiteral(".band"))) != u"detail" ||
            ad_dw->describe(QString(name + QStringLiteral(".visible"))) != u"1")
            continue;
        const QString heading = ad_dw->describe(QString(name + QStringLiteral("_t.text")));
        if (heading == u"!" || heading == u"?")
            continue;
        const long row = list->insertrow(0);
        list->setitem(row, 1, heading);
        list->setitem(row, 2, name);
        list->setitem(row, 3,
                      rt::decimal(ad_dw->describe(QString(name + QStringLiteral(".x"))).toLong()));
    }
    if (list->rowcount() == 0)
        return false;
    list->setsort(QStringLiteral("zx A"));
    list->sort();

    // The export: one text column per listed object, in screen order, written row by row as the
    // rows are read (the writer keeps no more than a row in memory). A column's display text
    // comes from its code table (LookUpDisplay), a computed field's from its expression.
    const long fields = list->rowcount();
    std::vector<int> columns;         // per field: the grid column, or 0
    std::vector<QString> expressions; // per field without a grid column: what gives its text
    QStringList headings;
    for (long j = 1; j <= fields; ++j) {
        const QString name = rt::dw_value_text(list->getitem(j, 2));
        const bool column = ad_dw->describe(QString(name + QStringLiteral(".type"))) == u"column";
        columns.push_back(column ? ad_dw->column_number(name) : 0);
        expressions.push_back(column ? QStringLiteral("LookUpDisplay(") + name + u')' : name);
        headings.append(rt::dw_value_text(list->getitem(j, 1)));
    }
    rt::xlsx::writer out(as_file);
    lxw_worksheet* sheet = out.add_sheet();
    if (!sheet)
        return false;
    for (int j = 0; j < static_cast<int>(fields); ++j)
        if (!out.text(sheet, 0, j, headings[j]))
            return false;
    // Rows that disappear while the user interface runs between rows are not read.
    for (long k = 1; k <= ad_dw->rowcount(); ++k) {
        detail::yield();
        if (k + 1 > rt::xlsx::max_rows)
            return false;
        for (std::size_t j = 0; j < columns.size(); ++j) {
            const QString text = columns[j] != 0 ? ad_dw->lookup_display(k, columns[j])
                                                 : ad_dw->evaluate(expressions[j], k);
            if (!out.text(sheet, static_cast<int>(k), static_cast<int>(j), text))
                return false;
        }
    }
    return out.commit(error);
}

} // namespace lumora
