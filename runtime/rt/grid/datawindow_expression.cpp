// Expressions of the grid (computed fields, evaluate()): compiled once, evaluated per row.

#include <rt/grid/datawindow_p.h>

#include <rt/value/errors.h>

namespace rt::detail {

namespace {

class expression_reader {
public:
    expression_reader(QStringView text, dw_expression& out) : t_(text), e_(out) {}

    bool read(QString& error)
    {
        e_.root = additive(0);
        skip_blanks();
        if (e_.root < 0 || pos_ != t_.size()) {
            error =
                error_.isEmpty()
                    ? QStringLiteral("unexpected text at position %1 of the expression").arg(pos_)
                    : error_;
            return false;
        }
        return true;
    }

private:
    using op = dw_expression::op;

    void skip_blanks()
    {
        while (pos_ < t_.size() && is_blank(t_[pos_]))
            ++pos_;
    }

    int add(dw_expression::node n)
    {
        e_.nodes.push_back(std::move(n));
        return static_cast<int>(e_.nodes.size()) - 1;
    }

    int binary(op kind, int a, int b)
    {
        if (a < 0 || b < 0)
            return -1;
        dw_expression::node n;
        n.kind = kind;
        n.a = a;
        n.b = b;
        return add(std::move(n));
    }

    // One level of left-associative operators, `a` or `b`, between operands that `operand` (the
    // next level) reads.
    int chain(int depth, char16_t a, op a_kind, char16_t b, op b_kind,
              int (expression_reader::*operand)(int))
    {
        int left = (this->*operand)(depth);
        for (;;) {
            skip_blanks();
            if (left < 0 || pos_ >= t_.size() || (t_[pos_] != a && t_[pos_] != b))
                return left;
            const op kind = t_[pos_++] == a ? a_kind : b_kind;
            left = binary(kind, left, (this->*operand)(depth));
        }
    }

    int additive(int depth)
    {
        return chain(depth, u'+', op::add, u'-', op::sub, &expression_reader::multiplicative);
    }

    int multiplicative(int depth)
    {
        return chain(depth, u'*', op::mul, u'/', op::div, &expression_reader::unary);
    }

    int unary(int depth)
    {
        if (depth > max_depth) {
            error_ = QStringLiteral("expression nested too deeply");
            return -1;
        }
        skip_blanks();
        if (pos_ < t_.size() && t_[pos_] == u'-') {
            ++pos_;
            const int a = unary(depth + 1);
            if (a < 0)
                return -1;
            dw_expression::node n;
            n.kind = op::neg;
            n.a = a;
            return add(std::move(n));
        }
        if (pos_ < t_.size() && t_[pos_] == u'+') {
            ++pos_;
            return unary(depth + 1);
        }
        return primary(depth);
    }

    int primary(int depth)
    {
        skip_blanks();
        if (pos_ >= t_.size())
            return -1;
        const QChar c = t_[pos_];
        if (c == u'(') {
            ++pos_;
            const int inner = additive(depth + 1);
            skip_blanks();
            if (inner < 0 || pos_ >= t_.size() || t_[pos_] != u')')
                return -1;
            ++pos_;
            return inner;
        }
        if (c == u'"' || c == u'\'') {
            ++pos_;
            dw_expression::node n;
            n.kind = op::text;
            for (;;) {
                if (pos_ >= t_.size())
                    return -1;
                const QChar ch = t_[pos_++];
                if (ch == c)
                    break;
                if (ch == u'~' && pos_ < t_.size())
                    n.s += t_[pos_++];
                else
                    n.s += ch;
            }
            return add(std::move(n));
        }
        if (c.isDigit() || c == u'.') {
            const qsizetype start = pos_;
            while (pos_ < t_.size() && (t_[pos_].isDigit() || t_[pos_] == u'.'))
                ++pos_;
            const auto value = decimal::from_text(t_.mid(start, pos_ - start));
            if (!value)
                return -1;
            dw_expression::node n;
            n.kind = op::number;
            n.n = *value;
            return add(std::move(n));
        }
        if (!(c.isLetter() || c == u'_' || c == u'#'))
            return -1;
        const qsizetype start = pos_;
        while (pos_ < t_.size() &&
               (t_[pos_].isLetterOrNumber() || t_[pos_] == u'_' || t_[pos_] == u'#'))
            ++pos_;
        dw_expression::node n;
        n.s = t_.mid(start, pos_ - start).toString().toLower();
        n.kind = op::name;
        skip_blanks();
        if (pos_ < t_.size() && t_[pos_] == u'(') {
            if (n.s != u"lookupdisplay") {
                error_ = QStringLiteral("unknown function %1").arg(n.s);
                return -1;
            }
            ++pos_;
            skip_blanks();
            const qsizetype arg = pos_;
            while (pos_ < t_.size() && (t_[pos_].isLetterOrNumber() || t_[pos_] == u'_'))
                ++pos_;
            n.s = t_.mid(arg, pos_ - arg).toString().toLower();
            n.kind = op::lookup;
            skip_blanks();
            if (n.s.isEmpty() || pos_ >= t_.size() || t_[pos_] != u')')
                return -1;
            ++pos_;
        }
        return add(std::move(n));
    }

    QStringView t_;
    dw_expression& e_;
    qsizetype pos_ = 0;
    QString error_;
};

} // namespace

std::optional<dw_expression> parse_expression(QStringView text, QString& error)
{
    dw_expression e;
    if (!expression_reader(text, e).read(error))
        return std::nullopt;
    return e;
}

} // namespace rt::detail

namespace rt {

using detail::dw_expression;

std::optional<dw_value> datawindow::Private::eval(const dw_expression& e, long row, int depth) const
{
    if (e.root < 0)
        return std::nullopt;
    return eval_node(e, e.root, row, depth);
}

std::optional<dw_value> datawindow::Private::eval_node(const dw_expression& e, int index, long row,
                                                       int depth) const
{
    using op = dw_expression::op;
    const dw_expression::node& n = e.nodes[static_cast<std::size_t>(index)];
    switch (n.kind) {
    case op::number:
        return dw_value{n.n};
    case op::text:
        return dw_value{n.s};
    case op::name:
        return value_of(n.s, row, depth + 1);
    case op::lookup: {
        const int column = q.column_number(n.s);
        if (column == 0)
            return std::nullopt;
        return dw_value{q.lookup_display(row, column)};
    }
    case op::neg: {
        auto a = eval_node(e, n.a, row, depth);
        if (!a || std::holds_alternative<QString>(*a))
            return std::nullopt;
        if (const auto* number = std::get_if<decimal>(&*a))
            return dw_value{-*number};
        return dw_value{};
    }
    default:
        break;
    }
    auto a = eval_node(e, n.a, row, depth);
    auto b = eval_node(e, n.b, row, depth);
    if (!a || !b)
        return std::nullopt;
    const bool a_text = std::holds_alternative<QString>(*a);
    const bool b_text = std::holds_alternative<QString>(*b);
    if (n.kind == op::add && a_text && b_text)
        return dw_value{std::get<QString>(*a) + std::get<QString>(*b)};
    if (a_text || b_text) {
        // Text mixed with a number (or null) only joins with another text.
        if (n.kind == op::add && (a_text || std::holds_alternative<std::monostate>(*a)) &&
            (b_text || std::holds_alternative<std::monostate>(*b)))
            return dw_value{};
        return std::nullopt;
    }
    const auto* x = std::get_if<decimal>(&*a);
    const auto* y = std::get_if<decimal>(&*b);
    if (!x || !y)
        return dw_value{}; // null in arithmetic gives null
    switch (n.kind) {
    case op::add:
        return dw_value{*x + *y};
    case op::sub:
        return dw_value{*x - *y};
    case op::mul:
        return dw_value{*x * *y};
    case op::div:
        try {
            return dw_value{*x / *y};
        } catch (const division_by_zero&) {
            return dw_value{};
        }
    default:
        return std::nullopt;
    }
}

} // namespace rt
