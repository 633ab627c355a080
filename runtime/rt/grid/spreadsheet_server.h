#pragma once

#include <rt/grid/ole.h>

#include <QVariant>

#include <memory>

namespace rt {

/// The in-process spreadsheet program reached as "Excel.Application": workbooks opened from and
/// saved to .xlsx files, the active workbook's first worksheet as the target of cells, rows,
/// columns, range and activecell. Understood paths (a leading `application` is optional):
/// `visible`; `workbooks.open(path)`; `workbooks(i).save` / `.close`;
/// `[workbooks(i).][worksheets(j)|activesheet.]` followed by `cells(r, c)`, `cells`, `rows(r)`,
/// `columns(c)`, `range("A1[:B2]")` or `activecell`, optionally `.entirecolumn`, then `value`,
/// `formula`, `formular1c1`, `horizontalalignment`, `columnwidth`, `select`, `activate` or
/// `autofit`; `quit`.
///
/// R1C1 formulas are stored as the equivalent A1 formulas with their result computed (SUM and
/// arithmetic over cells), so that viewers that do not recalculate show it. Auto-fit sets each
/// column's width from the texts its cells show, full-width characters counting double. Texts
/// set as values are always texts, also when they begin with "=".
class spreadsheet_server : public ole_server {
public:
    spreadsheet_server();
    ~spreadsheet_server() override;
    QVariant invoke(ole_access access, const ole_path& path, const QVariant& value) override;

private:
    struct state;
    std::unique_ptr<state> d;
};

} // namespace rt
