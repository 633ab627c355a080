// Grid export through a derived data store.

#include "export_p.h"
#include <lumora/export/grid_export.h>

#include <rt/value/errors.h>

#include <QStringList>

#include <memory>

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

    // The export store: one text column per listed object, in screen order.
    const long fields = list->rowcount();
    QString definition = header;
    // Per field: the describe text up to the row number, chosen once by the object's type.
    std::vector<QString> describe_prefix;
    describe_prefix.reserve(static_cast<std::size_t>(fields));
    for (long j = 1; j <= fields; ++j) {
        const QString name = rt::dw_value_text(list->getitem(j, 2));
        definition +=
            QStringLiteral("column=(type=char(1) dbname=\"") + name + QStringLiteral("\" )") + crlf;
        describe_prefix.push_back(
            ad_dw->describe(QString(name + QStringLiteral(".type"))) == u"column"
                ? QStringLiteral("evaluate('LookUpDisplay(") + name + QStringLiteral(")', ")
                : QStringLiteral("evaluate('") + name + QStringLiteral("',"));
    }
    definition += u')';
    auto store = std::make_unique<rt::datastore>();
    store->create(definition, error);
    if (error.size() > 0)
        return false;

    // Rows that disappear while the user interface runs between rows are not read.
    for (long k = 1; k <= ad_dw->rowcount(); ++k) {
        detail::yield();
        const long row = store->insertrow(0);
        const QString row_text = QString::number(k) + u')';
        for (long j = 1; j <= fields; ++j)
            store->setitem(row, static_cast<int>(j),
                           ad_dw->describe(QString(
                               describe_prefix[static_cast<std::size_t>(j - 1)] + row_text)));
    }
    store->insertrow(1);
    for (long j = 1; j <= fields; ++j)
        store->setitem(1, static_cast<int>(j), list->getitem(j, 1));

    return store->saveas(as_file, rt::saveas_type::excel, false) == 1;
}

} // namespace lumora
