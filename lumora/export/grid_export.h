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
/// Both write the workbook to an exclusive temporary file beside the target (beside the file a
/// symbolic link points to; the link stays), check it, flush it to disk and rename it into place,
/// so an existing file is either replaced whole or left as it was, also across a power cut. The
/// replaced file keeps its permissions (and owner where the process may); a new one gets 0666
/// less the umask. A directory or a write-protected file is never replaced.

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
/// The headings are packed from column A on, while the grid's save below them has every column,
/// hidden ones included: with a hidden column the headings shift left of their data. With the
/// second of three columns hidden, A1 and B1 hold the labels of the first and third columns,
/// column B the hidden column's values and C1 the third column's name from the grid's own save.
/// This is the prescribed sequence of operations, kept as it is.
///
/// Asks before replacing an existing file (title "保存"; a host that cannot ask, with no
/// QApplication and no host::set_messagebox_handler(), keeps the file) and reports every outcome
/// in a message box titled with host::sys_ts(). A directory or a write-protected file at
/// `filename` is refused before the question, as a failed save ("导出数据失败!"). Returns 1 when
/// the workbook was saved (also when the spreadsheet program cannot be reached after the grid's own
/// save), -1 when the grid has no rows, the user keeps the existing file or the grid's save fails.
/// The grid's save finishes its file (compressing, checking, syncing, renaming) while the
/// spreadsheet program already works on the workbook; when that fails, the program's save is not
/// made and the outcome is the same "导出数据失败!" and -1.
/// A failure of the spreadsheet program after it was reached throws rt::runtime_error; the file is
/// then the grid's save or the program's, never a torn one. A null `datawin` throws
/// rt::null_object_reference.
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
