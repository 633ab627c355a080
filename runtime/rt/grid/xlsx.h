#pragma once

#include <rt/value/file_replace.h>

#include <QString>
#include <QStringView>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;

namespace rt::xlsx {

namespace detail {
class cell_pipe;
struct queued_cell;
} // namespace detail

/// Horizontal alignment of a cell, as the spreadsheet's horizontalalignment property numbers it.
enum class halign : std::uint8_t { general = 1, left = 2, center = 3, right = 4 };

/// One cell of a worksheet.
struct cell {
    enum class kind : std::uint8_t { empty, number, text, boolean, formula };
    kind type = kind::empty;
    halign align = halign::general;
    bool has_result = false; ///< formula: `number` holds its computed result
    double number = 0;       ///< number, boolean (0/1) or a formula's cached result
    QString text;            ///< text, or a formula in A1 form without the leading "="
};

/// One worksheet, stored sparsely: only rows that hold cells, and in them only those cells, so
/// that a cell far out (XFD1048576) costs what one cell costs.
struct sheet {
    /// A cell with its 1-based column number.
    struct entry {
        int column;
        xlsx::cell value;
    };
    /// A row that holds cells: its 1-based number and its cells by ascending column.
    struct stored_row {
        int number;
        std::vector<entry> cells;
    };

    QString name;
    std::vector<stored_row> rows; ///< by ascending row number
    std::map<int, double> widths; ///< 1-based column → width

    /// The cell at (row, column), 1-based; nullptr when there is none.
    const cell* at(int row, int column) const;
    /// The cell at (row, column), created empty when missing. Appending in reading order (rows
    /// and columns ascending) is cheap.
    cell& make(int row, int column);
    /// Calls visit(row, column, cell) for each stored cell inside rows r1…r2 and columns c1…c2,
    /// in reading order; the cost is that of the stored cells, not of the range's size.
    template <typename Visit> void for_each_in(int r1, int c1, int r2, int c2, Visit&& visit) const
    {
        const auto row_before = [](const stored_row& x, int n) { return x.number < n; };
        const auto column_before = [](const entry& x, int n) { return x.column < n; };
        for (auto r = std::lower_bound(rows.begin(), rows.end(), r1, row_before);
             r != rows.end() && r->number <= r2; ++r)
            for (auto c = std::lower_bound(r->cells.begin(), r->cells.end(), c1, column_before);
                 c != r->cells.end() && c->column <= c2; ++c)
                visit(r->number, c->column, c->value);
    }
    /// Number of the last row that holds cells (0 when none).
    int row_count() const;
    /// Number of the rightmost column that holds a cell (0 when none).
    int column_count() const;
};

/// A workbook: its worksheets in order.
struct workbook {
    std::vector<sheet> sheets;
};

/// Reads an .xlsx file (values, formulas with their cached results, column widths, horizontal
/// alignments). std::nullopt with a description in `error` when the file is no readable
/// workbook.
std::optional<workbook> read(const QString& path, QString& error);
/// Reads a workbook from the bytes of an .xlsx file (used by the fuzz target).
std::optional<workbook> read_bytes(const QByteArray& bytes, QString& error);

/// Writes `book` to `path` as .xlsx through a writer. Returns false with a description in
/// `error`; an earlier file at `path` is then untouched.
bool write(const workbook& book, const QString& path, QString& error);

class writer;

/// Hands a workbook from a save to the next reader of the same file, in the same thread, while an
/// object of this class lives: the in-process spreadsheet server then opens the grid's own save
/// without reading the file back. Meanwhile the save finishes its file (drains its cells, closes,
/// checks, syncs and renames it) on a thread of its own; finish() waits for that and tells whether
/// the file landed. A writer committing in this thread waits for it first and fails when it
/// failed, so a later save never lands over a failed one. Whatever is not taken is dropped with
/// the object, which waits for the save too.
class handoff {
public:
    handoff();
    ~handoff();
    handoff(const handoff&) = delete;
    handoff& operator=(const handoff&) = delete;

    /// True while a handoff lives in this thread (a writer then builds the model it offers).
    static bool active();
    /// Offers `book`, the contents `w` is writing to `path`, and commits `w` on a thread of its
    /// own; an earlier offer's save is waited for first. Only while active().
    static void offer(const QString& path, workbook book, std::unique_ptr<writer> w);
    /// The workbook offered for `path`: while its save is finishing, or after it landed as long
    /// as the file is still the one written (same file, size and modification time).
    static std::optional<workbook> take(const QString& path);
    /// Waits for the offered saves. False with `error` set when one failed: its target is then
    /// untouched. True when nothing was offered.
    static bool finish(QString& error);

private:
    struct offered;
    bool settle();
    std::unique_ptr<offered> d;
    handoff* previous_;
};

/// Column letters of a 1-based column number: 1 → "A", 26 → "Z", 27 → "AA", 16384 → "XFD".
QString column_letters(int column);
/// Reads an A1 cell address ("B7", "$AA$10"); std::nullopt unless it is a valid cell.
std::optional<std::pair<int, int>> parse_a1(QStringView address);
/// Width of a text in character units: full-width (CJK) characters count twice.
int display_width(QStringView text);
/// The text a spreadsheet shows for a number in its general format.
QString number_text(double value);
/// The display width of number_text(value), computed without making the text.
int number_width(double value);
/// A column's width as users set and read it, from the width a file stores: that includes the
/// cell padding (5 pixels beside the default font's 7-pixel digits; below one character both
/// scale together), which the writer adds again.
double unpadded_width(double stored);

/// Largest row and column number of a worksheet.
inline constexpr int max_rows = 1048576;
inline constexpr int max_columns = 16384;
/// Largest text a cell holds, in UTF-16 code units.
inline constexpr int max_text = 32767;

/// A workbook file under construction with libxlsxwriter (constant-memory mode: rows are written
/// in ascending order). It goes to an exclusive temporary file beside the target, and so do
/// libxlsxwriter's working files; commit() checks every cell reached the file, then replaces the
/// target durably (rt::file_replacement). Destroyed without commit() it leaves no trace.
/// Text, number, boolean and blank cells are handed to libxlsxwriter on a worker thread, so the
/// caller reads its next cells while the last ones are formatted; a cell libxlsxwriter refuses
/// fails a later call or commit().
class writer {
public:
    explicit writer(const QString& path);
    ~writer();
    writer(const writer&) = delete;
    writer& operator=(const writer&) = delete;

    /// The workbook, or nullptr when the target cannot be replaced or the temporary file could
    /// not be made (commit() then says why). The cells given so far are written first, so the
    /// caller may use libxlsxwriter directly (formats, column widths).
    lxw_workbook* book();
    /// Adds a worksheet (an empty name: libxlsxwriter's default), nullptr on failure.
    lxw_worksheet* add_sheet(const QString& name = {});

    /// The cell writers: false with the reason kept for commit() when libxlsxwriter refuses.
    /// A text longer than max_text is refused rather than cut; a number beyond what a cell holds
    /// (infinite, not a number) is written as the text `shown` (number_text() when empty).
    bool text(lxw_worksheet* ws, int row, int column, const QString& value,
              lxw_format* f = nullptr);
    bool number(lxw_worksheet* ws, int row, int column, double value, lxw_format* f = nullptr,
                const QString& shown = {});
    bool boolean(lxw_worksheet* ws, int row, int column, bool value, lxw_format* f = nullptr);
    bool blank(lxw_worksheet* ws, int row, int column, lxw_format* f);
    /// A formula in A1 form without the leading "=", with its computed result when there is one.
    bool formula(lxw_worksheet* ws, int row, int column, const QString& a1,
                 std::optional<double> result, lxw_format* f = nullptr);

    /// Closes the workbook, checks the file (every part intact, every cell written present) and
    /// renames it onto the target. Returns false with `error` set; the target is then untouched.
    /// A save this thread handed over (handoff::offer) is waited for first; when it failed, so
    /// does this one, with its error.
    bool commit(QString& error);

private:
    bool check(int result, int row, int column); // an lxw_error
    bool queue(const detail::queued_cell& cell, QStringView text = {});
    bool drain();
    bool verify(QString& error) const;

    std::unique_ptr<file_replacement> out_;
    QByteArray tmpdir_;
    lxw_workbook* book_ = nullptr;
    QString error_;
    long long cells_ = 0; // written directly, not through the pipe
    std::unique_ptr<detail::cell_pipe> pipe_;
};

} // namespace rt::xlsx
