// Formulas: R1C1 references in A1 form, and the results of simple A1 formulas over a sheet.

#include <rt/grid/formula.h>

#include <rt/grid/ole.h>

#include <algorithm>
#include <array>

namespace rt::detail {

namespace {

bool word_char(QChar c)
{
    return c.isLetterOrNumber() || c == u'_' || c == u'$' || c == u'.';
}

// Reads "[n]" (relative) or "n" (absolute) after R or C; `present` tells whether a part was
// written at all.
bool read_r1c1_part(const QString& f, qsizetype& i, bool& relative, long& n)
{
    relative = true;
    n = 0;
    if (i < f.size() && f[i] == u'[') {
        const qsizetype close = f.indexOf(u']', i);
        if (close < 0)
            return false;
        bool ok = false;
        n = f.mid(i + 1, close - i - 1).toLong(&ok);
        i = close + 1;
        return ok;
    }
    const qsizetype start = i;
    while (i < f.size() && f[i].isDigit() && i - start < 8)
        ++i;
    if (i > start) {
        relative = false;
        n = f.mid(start, i - start).toLong();
    }
    return true;
}

} // namespace

QString r1c1_to_a1(const QString& f, int row, int column)
{
    QString out;
    out.reserve(f.size());
    for (qsizetype i = 0; i < f.size();) {
        const QChar c = f[i];
        if (c == u'"') { // texts pass unchanged
            const qsizetype close = f.indexOf(u'"', i + 1);
            const qsizetype end = close < 0 ? f.size() : close + 1;
            out += QStringView(f).mid(i, end - i);
            i = end;
            continue;
        }
        const bool boundary = i == 0 || !word_char(f[i - 1]);
        if (boundary && (c == u'R' || c == u'r')) {
            qsizetype j = i + 1;
            bool row_relative = true;
            bool column_relative = true;
            long dr = 0;
            long dc = 0;
            if (read_r1c1_part(f, j, row_relative, dr) && j < f.size() &&
                (f[j] == u'C' || f[j] == u'c')) {
                ++j;
                if (read_r1c1_part(f, j, column_relative, dc) &&
                    (j >= f.size() || !(word_char(f[j]) || f[j] == u'('))) {
                    const long r = row_relative ? row + dr : dr;
                    const long k = column_relative ? column + dc : dc;
                    if (r < 1 || r > xlsx::max_rows || k < 1 || k > xlsx::max_columns)
                        ole_refuse(QStringLiteral("reference outside the sheet in ") + f);
                    out += xlsx::column_letters(static_cast<int>(k)) + QString::number(r);
                    i = j;
                    continue;
                }
            }
        }
        out += c;
        ++i;
    }
    return out;
}

namespace {

class formula_reader {
public:
    formula_reader(const xlsx::sheet& s, QStringView f) : s_(s), f_(f) {}

    std::optional<double> read()
    {
        auto v = expr(0);
        skip();
        if (!v || i_ != f_.size())
            return std::nullopt;
        return v;
    }

private:
    void skip()
    {
        while (i_ < f_.size() && f_[i_] == u' ')
            ++i_;
    }

    std::optional<double> cell_value(int r, int c) const
    {
        const xlsx::cell* x = s_.at(r, c);
        if (!x || x->type == xlsx::cell::kind::empty)
            return 0.0;
        if (x->type == xlsx::cell::kind::number || x->type == xlsx::cell::kind::boolean)
            return x->number;
        if (x->type == xlsx::cell::kind::formula && x->has_result)
            return x->number;
        return std::nullopt;
    }

    // A cell or range reference at the current position: (r1, c1, r2, c2).
    std::optional<std::array<int, 4>> reference()
    {
        auto one = [&]() -> std::optional<std::pair<int, int>> {
            const qsizetype start = i_;
            while (i_ < f_.size() && (f_[i_].isLetterOrNumber() || f_[i_] == u'$'))
                ++i_;
            return xlsx::parse_a1(f_.mid(start, i_ - start));
        };
        const qsizetype start = i_;
        const auto a = one();
        if (!a) {
            i_ = start;
            return std::nullopt;
        }
        if (i_ < f_.size() && f_[i_] == u':') {
            ++i_;
            const auto b = one();
            if (!b)
                return std::nullopt;
            return std::array<int, 4>{std::min(a->first, b->first), std::min(a->second, b->second),
                                      std::max(a->first, b->first), std::max(a->second, b->second)};
        }
        return std::array<int, 4>{a->first, a->second, a->first, a->second};
    }

    // One level of left-associative operators, `a` or `b`, between operands that `operand`
    // (the next level) reads.
    std::optional<double> chain(int depth, char16_t a, char16_t b,
                                std::optional<double> (formula_reader::*operand)(int))
    {
        auto left = (this->*operand)(depth);
        for (;;) {
            skip();
            if (!left || i_ >= f_.size() || (f_[i_] != a && f_[i_] != b))
                return left;
            const QChar o = f_[i_++];
            const auto right = (this->*operand)(depth);
            // A division by zero has no result here.
            if (!right || (o == u'/' && *right == 0))
                return std::nullopt;
            left = o == u'+'   ? *left + *right
                   : o == u'-' ? *left - *right
                   : o == u'*' ? *left * *right
                               : *left / *right;
        }
    }

    std::optional<double> expr(int depth)
    {
        return chain(depth, u'+', u'-', &formula_reader::term);
    }

    std::optional<double> term(int depth)
    {
        return chain(depth, u'*', u'/', &formula_reader::factor);
    }

    std::optional<double> factor(int depth)
    {
        if (depth > 64)
            return std::nullopt;
        skip();
        if (i_ >= f_.size())
            return std::nullopt;
        const QChar c = f_[i_];
        if (c == u'-' || c == u'+') {
            ++i_;
            const auto v = factor(depth + 1);
            return v && c == u'-' ? std::optional<double>(-*v) : v;
        }
        if (c == u'(') {
            ++i_;
            const auto v = expr(depth + 1);
            skip();
            if (!v || i_ >= f_.size() || f_[i_] != u')')
                return std::nullopt;
            ++i_;
            return v;
        }
        if (c.isDigit() || c == u'.') {
            const qsizetype start = i_;
            while (i_ < f_.size() && (f_[i_].isDigit() || f_[i_] == u'.'))
                ++i_;
            bool ok = false;
            const double v = f_.mid(start, i_ - start).toDouble(&ok);
            return ok ? std::optional<double>(v) : std::nullopt;
        }
        if (f_.mid(i_).startsWith(u"SUM(", Qt::CaseInsensitive)) {
            i_ += 4;
            double sum = 0;
            for (;;) {
                skip();
                const qsizetype start = i_;
                auto ref = reference();
                skip();
                if (ref && i_ < f_.size() && (f_[i_] == u',' || f_[i_] == u')')) {
                    const auto [r1, c1, r2, c2] = *ref;
                    // Only cells that exist can hold numbers; texts are left out of a sum.
                    bool pending = false; // a formula whose result is not known yet
                    s_.for_each_in(r1, c1, r2, c2, [&](int, int, const xlsx::cell& x) {
                        if (x.type == xlsx::cell::kind::formula && !x.has_result)
                            pending = true;
                        else if (x.type != xlsx::cell::kind::text)
                            sum += x.number;
                    });
                    if (pending)
                        return std::nullopt;
                } else {
                    i_ = start;
                    const auto v = expr(depth + 1);
                    if (!v)
                        return std::nullopt;
                    sum += *v;
                }
                skip();
                if (i_ < f_.size() && f_[i_] == u',') {
                    ++i_;
                    continue;
                }
                if (i_ < f_.size() && f_[i_] == u')') {
                    ++i_;
                    return sum;
                }
                return std::nullopt;
            }
        }
        const auto ref = reference();
        if (!ref || (*ref)[0] != (*ref)[2] || (*ref)[1] != (*ref)[3])
            return std::nullopt;
        return cell_value((*ref)[0], (*ref)[1]);
    }

    const xlsx::sheet& s_;
    QStringView f_;
    qsizetype i_ = 0;
};

} // namespace

std::optional<double> compute_formula(const xlsx::sheet& sheet, QStringView formula)
{
    return formula_reader(sheet, formula).read();
}

} // namespace rt::detail
