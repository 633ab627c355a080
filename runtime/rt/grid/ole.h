#pragma once

#include <rt/grid/xlsx.h>

#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>
#include <vector>

namespace rt {

/// One step of an automation path: a member name with its arguments, as in `cells(1, 2)`.
struct ole_step {
    QString name;
    QVariantList args;
};

/// An automation path such as `application.workbooks.open("x.xlsx")`; the arguments of a method
/// call are those of its last step.
using ole_path = std::vector<ole_step>;

/// How a path is used: a property read, a property write or a method call.
enum class ole_access { get, set, call };

/// A path written as text: `cells(1, 2).value`, texts in double quotes.
QString ole_path_text(const ole_path& path);

/// An automation server, as an oleobject reaches it once connected.
class ole_server {
public:
    virtual ~ole_server();
    /// Reads (get), writes (set, with `value`) or calls (call) the member at the end of `path`
    /// and returns its result (invalid when there is none). Throws rt::runtime_error when the
    /// server refuses the operation.
    virtual QVariant invoke(ole_access access, const ole_path& path, const QVariant& value) = 0;
};

/// Creates the server for a ProgID, or returns nullptr and sets `code` (non-zero) when it cannot.
using ole_factory = std::function<std::unique_ptr<ole_server>(const QString& progid, int& code)>;

/// Replaces how servers are created (tests substitute recording or failing servers); an empty
/// factory restores the default, which knows "Excel.Application" only. Returns the previous one.
ole_factory set_ole_factory(ole_factory factory);

/// The default factory: a spreadsheet_server for "Excel.Application" (case-insensitive), code -2
/// (class not found) for every other ProgID.
std::unique_ptr<ole_server> default_ole_server(const QString& progid, int& code);

/// The runtime's automation object (`oleobject`): connected to a new server instance, then used
/// through paths.
class oleobject {
public:
    oleobject();
    ~oleobject();
    oleobject(const oleobject&) = delete;
    oleobject& operator=(const oleobject&) = delete;

    /// Connects to a new instance of the server `progid`. Returns 0, or the factory's non-zero
    /// code (-2 for an unknown ProgID).
    int connecttonewobject(const QString& progid);
    /// Drops the connection; returns 0, or -1 when not connected.
    int disconnectobject();
    bool connected() const { return server_ != nullptr; }

    /// The three uses of a path; each throws rt::runtime_error when the object is not connected
    /// or the server refuses.
    QVariant get(const ole_path& path);
    void set(const ole_path& path, const QVariant& value);
    QVariant call(const ole_path& path);

private:
    std::unique_ptr<ole_server> server_;
};

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

/// A server that records every operation as a line of text ("set cells(1, 1).value = \"x\"")
/// before passing it to an inner server, and fails on demand: the operation numbered
/// `fail_at` (1-based; 0 never) throws rt::runtime_error instead of reaching the inner server.
class recording_server : public ole_server {
public:
    /// `inner` may be null: operations are then only recorded.
    recording_server(std::unique_ptr<ole_server> inner, QStringList* log, int fail_at = 0);
    QVariant invoke(ole_access access, const ole_path& path, const QVariant& value) override;

private:
    std::unique_ptr<ole_server> inner_;
    QStringList* log_;
    int fail_at_;
    int count_ = 0;
};

namespace detail {
/// An R1C1 formula ("=SUM(R[-3]C:R[-1]C)") in A1 form relative to the cell (row, column)
/// ("=SUM(B2:B4)" at B5). Throws rt::runtime_error for a reference outside the sheet.
QString r1c1_to_a1(const QString& formula, int row, int column);
/// The result of an A1 formula (without "=") over a sheet: SUM and + - * / of numbers and cells.
/// std::nullopt when it cannot be computed here.
std::optional<double> compute_formula(const xlsx::sheet& sheet, QStringView formula);
} // namespace detail

} // namespace rt
