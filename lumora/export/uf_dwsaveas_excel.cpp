// Grid export through spreadsheet automation.

#include "export_p.h"
#include <lumora/export/grid_export.h>
#include <lumora/host.h>

#include <rt/grid/ole.h>
#include <rt/grid/xlsx.h>
#include <rt/ui/messagebox.h>
#include <rt/value/errors.h>
#include <rt/value/file_replace.h>

#include <QFileInfo>
#include <QStringList>

namespace lumora {

namespace {

rt::ole_step step(const char* name, QVariantList args = {})
{
    return {QString::fromLatin1(name), std::move(args)};
}

// The spreadsheet's part, on the workbook the grid just saved: headings of the visible columns
// over row 1, centred; a total row with a SUM under every column from the second; every column
// fitted to its contents; saved, and the spreadsheet quit.
void automate(rt::oleobject& ole, rt::datawindow& datawin, const QString& filename)
{
    ole.set({step("visible")}, false);
    // The pointer comes back on every way out, a failing automation call included.
    const detail::busy_pointer busy;
    ole.call({step("application"), step("workbooks"), step("open", {filename})});

    const long columns = datawin.describe(u"datawindow.column.count").toLong();
    QStringList headings;
    for (long n = 1; n <= columns; ++n) {
        const QString column = u'#' + QString::number(n);
        if (datawin.describe(QString(column + QStringLiteral(".Visible"))) != u"1")
            continue;
        const QString name = datawin.describe(QString(column + QStringLiteral(".name")));
        headings.append(datawin.describe(QString(name + QStringLiteral("_t.text"))));
    }
    for (qsizetype j = 0; j < headings.size(); ++j)
        ole.set({step("cells", {1, static_cast<int>(j + 1)}), step("value")}, headings[j]);
    ole.set({step("rows", {1}), step("horizontalalignment")}, 3);

    const long rows = datawin.rowcount();
    const long sheet_rows = rows + 1;
    ole.set({step("cells", {static_cast<int>(rows + 2), 1}), step("value")},
            QStringLiteral("合计"));
    const QString formula =
        QStringLiteral("=SUM(R[-%1]C:R[-1]C)").arg(rows); // the r cells above the total
    for (long j = 2; j <= columns; ++j) {
        // Column letters go on past Z (AA, AB, ...) as spreadsheet addressing does.
        const QString letters = rt::xlsx::column_letters(static_cast<int>(j));
        ole.get({step("range",
                      {letters + QStringLiteral("2:") + letters + QString::number(sheet_rows)}),
                 step("select")});
        ole.get({step("range", {letters + QString::number(sheet_rows + 1)}), step("activate")});
        ole.set({step("activecell"), step("formular1c1")}, formula);
    }

    ole.get({step("application"), step("workbooks", {1}), step("worksheets", {1}), step("cells"),
             step("entirecolumn"), step("autofit")});
    ole.call({step("application"), step("workbooks", {1}), step("save")});
    ole.call({step("application"), step("quit")});
    ole.disconnectobject();
}

} // namespace

std::int16_t uf_dwsaveas_excel(rt::datawindow* datawin, const QString& filename)
{
    rt::oleobject ole;
    if (!datawin)
        throw rt::null_object_reference();
    const QString title = host::sys_ts().value_or(QString());
    const auto failed = [&] {
        rt::messagebox(title, QStringLiteral("导出数据失败!"), rt::icon::stop);
        return std::int16_t{-1};
    };

    if (datawin->rowcount() < 1) {
        rt::messagebox(title, QStringLiteral("请先检索数据再导出至Excel!"));
        return -1;
    }
    // A directory, a write-protected file: nothing to ask about, the save cannot replace it.
    if (!rt::replace_refusal(filename).isEmpty())
        return failed();
    if (QFileInfo::exists(filename) &&
        rt::messagebox(QStringLiteral("保存"), filename + QStringLiteral("已经存在,是否覆盖?"),
                       rt::icon::exclamation, rt::buttons::yes_no) != 1)
        return -1;
    // The grid's save hands its workbook to the spreadsheet server and finishes its file meanwhile;
    // whether that file landed is known before anything is shown.
    const rt::xlsx::handoff handoff;
    const auto landed = [] {
        QString error;
        return rt::xlsx::handoff::finish(error);
    };
    if (datawin->saveas(filename, rt::saveas_type::xlsx, true) != 1)
        return failed();
    try {
        const int code = ole.connecttonewobject(QStringLiteral("Excel.Application"));
        if (code != 0) {
            if (!landed())
                return failed();
            rt::messagebox(title,
                           QStringLiteral("无法连接EXCEL!是否已经安装了EXCEL?错误号：") +
                               QString::number(code),
                           rt::icon::stop);
            return 1;
        }
        automate(ole, *datawin, filename);
    } catch (...) {
        // The spreadsheet's save is refused when the grid's failed: that failure is the one to
        // report. Any other error goes on with the grid's save in place.
        if (!landed())
            return failed();
        throw;
    }
    rt::messagebox(title, QStringLiteral("导出成功!"));
    return 1;
}

} // namespace lumora
