#pragma once

// liblumora.so takes grids in its interface and carries these classes, so they are marked for
// export from there; their state stays inside, behind a private pointer.
#include <lumora/lumora_export.h>
#include <rt/value/decimal.h>

#include <QString>
#include <QStringView>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

namespace rt {

/// The major version of this runtime, as definition texts carry it after "release ".
inline constexpr int runtime_major_version = 1;

/// One value of a grid cell: null, a text or a number.
using dw_value = std::variant<std::monostate, QString, decimal>;

/// Spreadsheet save formats of datawindow::saveas(): both write an .xlsx workbook.
enum class saveas_type : int { excel = 0, xlsx = 14 };

class datawindow;

/// A computed field written in C++: the value of the field in `row` (1-based) of `dw`.
using dw_compute_function = std::function<dw_value(const datawindow& dw, long row)>;

/// A column of the grid's table: what each row stores.
struct dw_column {
    QString name;    ///< name in the grid (also the default of dbname)
    QString dbname;  ///< database name
    QString coltype; ///< the declared type as written: "char(10)", "long", "decimal(2)"
    bool numeric = false;
    /// Code table: pairs of display text and stored value (the value in its text form).
    std::vector<std::pair<QString, QString>> code_table;
};

/// What kind of object a grid object is (its "type" property).
enum class dw_object_kind { column, compute, text };

/// A presentation object of the grid: a column's edit field, a computed field or a text label.
struct dw_object {
    dw_object_kind kind = dw_object_kind::column;
    QString name;
    QString band = QStringLiteral("detail");
    bool visible = true;
    long x = 0;
    std::optional<QString> text; ///< label text (text objects); empty optional = no value
    int column = 0;              ///< 1-based column number (column objects)
    QString expression;          ///< expression (compute objects)
};

/// The runtime's data grid: a table of typed columns with rows of values, presentation objects
/// (column fields, computed fields, heading labels `<column>_t`), property queries by path
/// (describe), expressions evaluated per row, sort, insert, set item and save-as to a spreadsheet.
///
/// A grid is created from a definition text:
/// \code
/// release 1;
/// table(column=(type=char(10) name=sex dbname="sex" values="男	1/女	2/")
/// column=(type=long name=age dbname="age")
/// )
/// text(name=sex_t band=header text="性别" x="10")
/// column(name=sex band=detail x="10" visible="1")
/// compute(name=next band=detail x="200" expression="age + 1")
/// \endcode
/// `table(...)` declares the columns (type char(n), long, ulong, int, number, real, decimal(n);
/// optional name, dbname and a code table `values="display<tab>value/..."`). `text(...)`,
/// `column(...)` (by name or id) and `compute(...)` declare objects with band, x, visible
/// (1 or 0), text and expression. Quoted values take ~" ~' ~t ~r ~n ~~ as escapes. A column
/// without a column object has no field on screen. Other entries are accepted and ignored.
///
/// Rows and columns are numbered from 1. Texts longer than a char column's declared length are
/// kept whole.
class LUMORA_EXPORT datawindow {
public:
    datawindow();
    virtual ~datawindow();
    datawindow(const datawindow&) = delete;
    datawindow& operator=(const datawindow&) = delete;

    /// Replaces the grid's definition (and drops its rows) by the one in `syntax`. Returns 1,
    /// or -1 with a description of the fault in `error` (the grid then stays empty).
    int create(const QString& syntax, QString& error);

    /// Gives the computed field `name` a C++ function instead of its expression; returns 1, or -1
    /// when the grid has no computed field of that name.
    int set_compute_function(const QString& name, dw_compute_function function);

    /// Number of rows.
    long rowcount() const;
    /// Number of table columns.
    int column_count() const;
    /// The table columns, in column order.
    const std::vector<dw_column>& columns() const;
    /// The presentation objects, in the order of the definition.
    const std::vector<dw_object>& objects() const;

    /// Inserts an empty row before row `before`; 0 or the row after the last appends (so inserting
    /// before row 1 of an empty grid gives row 1). Returns the new row's number, or -1 when
    /// `before` is out of range.
    long insertrow(long before);
    /// Deletes row `row`; returns 1 or -1.
    int deleterow(long row);

    /// Sets a cell. A text set into a numeric column must read as a number. Returns 1, or -1 for
    /// a row or column out of range or a text that is no number.
    int setitem(long row, int column, const dw_value& value);
    int setitem(long row, const QString& column, const dw_value& value);
    /// A cell's value; null when out of range.
    dw_value getitem(long row, int column) const;

    /// The column number of `name` (case-insensitive), 0 when there is none.
    int column_number(QStringView name) const;

    /// Answers a property path as text, as the runtime does: "datawindow.objects" (the object
    /// names, tab-separated), "datawindow.column.count", "#n.prop" (column n's object), "name.prop"
    /// with prop one of name, type, band, visible, x, text, expression, coltype, dbname, id, and
    /// "evaluate('expression', row)". "!" answers an unknown object, property or a faulty
    /// expression, "?" a property that has no value.
    QString describe(QStringView path) const;

    /// Evaluates an expression in a row: column and computed-field names, LookUpDisplay(column),
    /// numbers, quoted texts, + - * / and parentheses; + joins texts. Returns the value's text,
    /// "" for null, "!" for a faulty expression or a row out of range. Division by zero gives
    /// null.
    QString evaluate(QStringView expression, long row) const;

    /// The display text of a column's value in a row: its code-table text when the value has
    /// one, else the value as text ("" for null).
    QString lookup_display(long row, int column) const;

    /// Sets the sort criteria: pairs of column (name or #n) and A or D, separated by commas or
    /// blanks ("zx A", "name A, #2 D"). Returns 1, or -1 for a faulty sort criterion.
    int setsort(const QString& criteria);
    /// Sorts the rows by the criteria (stable: equal rows keep their order; null first). Returns
    /// 1, or -1 when no valid criteria are set.
    int sort();

    /// Saves all rows to `file` as a spreadsheet workbook (both types write .xlsx): one
    /// spreadsheet column per table column in column order, numbers as numbers, texts as texts
    /// (never as formulas), nulls as empty cells; with `headings`, row 1 holds the column names
    /// and grid row k is spreadsheet row k + 1. The file is written beside itself and renamed into
    /// place, so a failed save leaves any earlier file as it was. Returns 1 or -1. Under an
    /// xlsx::handoff it returns once the cells are written: the file is finished in the
    /// background, and xlsx::handoff::finish() tells whether it landed.
    int saveas(const QString& file, saveas_type type, bool headings) const;

private:
    struct Private;
    std::unique_ptr<Private> const d;
};

/// The runtime's data store: a grid without a window, created and filled in code.
class LUMORA_EXPORT datastore : public datawindow {};

/// The text of a value: texts as they are, numbers in plain notation, "" for null.
LUMORA_EXPORT QString dw_value_text(const dw_value& value);

} // namespace rt
