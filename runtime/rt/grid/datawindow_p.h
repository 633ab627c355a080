#pragma once

// The grid's internals: its parsers (definition texts, the expressions of computed fields and
// evaluate(), the evaluate form of describe paths, sort criteria) and compiled expressions.

#include <rt/grid/datawindow.h>

#include <QHash>
#include <QString>
#include <QStringView>

#include <memory>
#include <optional>
#include <vector>

namespace rt::detail {

/// Nesting of definition texts and expressions deeper than this is refused rather than recursed
/// into.
inline constexpr int max_depth = 64;

/// The blanks that separate the words of definition texts and expressions.
inline bool is_blank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

struct syntax_node;
/// Attributes in written order: key (lower case) and value.
using syntax_attrs = std::vector<std::pair<QString, syntax_node>>;

/// An attribute value: a text (quoted or bare, escapes resolved) or a nested attribute list.
struct syntax_node {
    QString text;
    std::shared_ptr<syntax_attrs> list;
};

/// A top-level entry of a definition text: `keyword(attributes)`.
struct syntax_entry {
    QString keyword; ///< lower case
    syntax_attrs attrs;
};

/// A parsed definition text.
struct definition {
    int release = 0;
    std::vector<syntax_entry> entries;
};

/// Parses a definition text; std::nullopt with a description of the fault in `error`.
std::optional<definition> parse_definition(QStringView text, QString& error);

/// The first value of `key` in `attrs`, or nullptr.
const syntax_node* find_attr(const syntax_attrs& attrs, QStringView key);

/// A compiled expression (see datawindow::evaluate()): nodes with their operands by index.
struct dw_expression {
    enum class op { number, text, name, lookup, add, sub, mul, div, neg };
    struct node {
        op kind = op::number;
        int a = -1;
        int b = -1;
        QString s; ///< text literal, or lower-case name
        decimal n;
    };
    std::vector<node> nodes;
    int root = -1;
};

/// Compiles an expression; std::nullopt with a description in `error`.
std::optional<dw_expression> parse_expression(QStringView text, QString& error);

/// The parts of a describe path of the form "evaluate('expression', row)".
struct evaluate_call {
    QString expression;
    long row = 0;
};

/// Reads an evaluate form; std::nullopt when `path` is not one (or is malformed).
std::optional<evaluate_call> parse_evaluate(QStringView path);

/// Parses sort criteria into (column name or "#n", descending) pairs.
std::optional<std::vector<std::pair<QString, bool>>> parse_sort(QStringView criteria);

} // namespace rt::detail

namespace rt {

/// A grid's state, and the helpers its public functions share.
struct LUMORA_NO_EXPORT datawindow::Private {
    explicit Private(const datawindow& grid) : q(grid) {}

    long row_count() const { return static_cast<long>(rows.size()); }
    int column_count() const { return static_cast<int>(columns.size()); }
    /// The object `name` (case-insensitive), or nullptr.
    const dw_object* find_object(QStringView name) const;
    /// The value of a column or computed field in `row`; std::nullopt for an unknown name, a row
    /// out of range or a fault of the computed field.
    std::optional<dw_value> value_of(QStringView name, long row, int depth) const;
    /// The expression compiled once and kept, faulty ones too (as nullptr).
    std::shared_ptr<const detail::dw_expression> compiled(QStringView expression) const;
    /// The value of a compiled expression in `row`; std::nullopt for a fault (unknown name, text
    /// in arithmetic, cycle).
    std::optional<dw_value> eval(const detail::dw_expression& e, long row, int depth) const;
    /// A property of table column `column` (1-based) or of an object, as describe() answers it.
    QString column_property(int column, QStringView prop) const;
    QString object_property(const dw_object& object, QStringView prop) const;

    const datawindow& q;
    std::vector<dw_column> columns;
    std::vector<dw_object> objects;
    std::vector<std::vector<dw_value>> rows;
    QHash<QString, int> object_index; ///< lower-case name → index in objects
    QHash<QString, int> column_index; ///< lower-case name → 0-based column
    QHash<QString, dw_compute_function> compute_functions;
    std::vector<std::pair<int, bool>> sort_keys; ///< 0-based column, descending
    mutable QHash<QString, std::shared_ptr<const detail::dw_expression>> expressions;

private:
    std::optional<dw_value> eval_node(const detail::dw_expression& e, int index, long row,
                                      int depth) const;
};

} // namespace rt
