#pragma once

/// Export of data grids to spreadsheet workbooks (.xlsx), by two paths: through the spreadsheet
/// program's automation interface (uf_dwsaveas_excel) and through a derived data store that holds
/// what the user sees (dw_saveas_exl).
///
/// \code
/// rt::datawindow grid;
/// QString error;
/// grid.create(definition_text, error);      // columns, heading labels <column>_t, ...
/// // ... rows inserted and filled ...
/// lumora::host::set_sys_ts(QStringLiteral("考务管理"));
/// lumora::uf_dwsaveas_excel(&grid, QStringLiteral("/home/u/fees.xlsx"));   // 1: saved
/// lumora::dw_saveas_exl(&grid, QStringLiteral("/home/u/screen.xlsx"));     // true: saved
/// \endcode
///
/// Both write the workbook beside the target and rename it into place, so an existing file is
/// either replaced whole or left as it was.

#include <lumora/lumora_export.h>

#include <rt/grid/datawindow.h>

#include <QString>

#include <cstdint>

namespace lumora {

/// Saves the rows of `datawin` to the workbook `filename` and finishes it through the spreadsheet
/// program ("Excel.Application"): the visible columns' heading texts in row 1 (centred), the grid
/// rows below, "合计" and a SUM formula over the rows above in every column from B on in the row
/// after the last, all columns fitted to their contents.
///
/// Asks before replacing an existing file (title "保存") and reports every outcome in a message
/// box titled with host::sys_ts(). Returns 1 when the workbook was saved (also when the
/// spreadsheet program cannot be reached after the grid's own save), -1 when the grid has no rows,
/// the user keeps the existing file or the grid's save fails. A failure of the spreadsheet program
/// after it was reached throws rt::runtime_error; the file is then the grid's save or the
/// program's, never a torn one. A null `datawin` throws rt::null_object_reference.
LUMORA_EXPORT std::int16_t uf_dwsaveas_excel(rt::datawindow* datawin, const QString& filename);

/// Saves what the user sees of `ad_dw` to the workbook `as_file`, replacing any file there: the
/// visible column and computed fields of the detail band that have a heading label `<name>_t`
/// with a text, in ascending x order (equal x keep the grid's object order), code values shown as
/// their display texts and computed fields evaluated per row, with a first row of heading texts.
///
/// Shows no message; yields to the event loop once per row and shows the busy pointer meanwhile.
/// Returns true when the workbook was saved; false when the grid has no such field or the save
/// fails. A null `ad_dw` throws rt::null_object_reference.
LUMORA_EXPORT bool dw_saveas_exl(rt::datawindow* ad_dw, const QString& as_file);

} // namespace lumora
