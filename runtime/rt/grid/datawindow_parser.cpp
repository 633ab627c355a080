// Parsers of the grid: definition texts, expressions, evaluate forms and sort specifications.

#include <rt/grid/datawindow_p.h>

#include <rt/value/errors.h>

namespace rt::detail {

namespace {

// Nesting deeper than this is refused rather than recursed into.
constexpr int max_depth = 64;

bool is_blank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

bool is_name_char(QChar c)
{
    return c.isLetterOrNumber() || c == u'_' || c == u'#' || c == u'$' || c == u'.' || c == u'-' ||
           c == u'+';
}

class definition_reader {
public:
    explicit definition_reader(QStringView text) : t_(text) {}

    std::optional<definition> read(QString& error)
    {
        definition def;
        skip_blanks();
        if (!take_word(u"release"))
            return fail(error, QStringLiteral("expected \"release\""));
        skip_blanks();
        const qsizetype start = pos_;
        while (pos_ < t_.size() && t_[pos_].isDigit())
            ++pos_;
        bool ok = false;
        def.release = t_.mid(start, pos_ - start).toInt(&ok);
        if (!ok || def.release < 1)
            return fail(error, QStringLiteral("expected a release number"));
        skip_blanks();
        if (!take(u';'))
            return fail(error, QStringLiteral("expected \";\" after the release number"));
        for (;;) {
            skip_blanks();
            if (pos_ >= t_.size())
                break;
            syntax_entry entry;
            entry.keyword = read_word().toLower();
            if (entry.keyword.isEmpty())
                return fail(error, QStringLiteral("expected an entry name"));
            skip_blanks();
            if (!take(u'('))
                return fail(error,
                            QStringLiteral("expected \"(\" after \"%1\"").arg(entry.keyword));
            if (!read_attrs(entry.attrs, 1, error))
                return std::nullopt;
            def.entries.push_back(std::move(entry));
        }
        return def;
    }

private:
    std::nullopt_t fail(QString& error, const QString& what) const
    {
        if (error.isEmpty())
            error = QStringLiteral("definition error at position %1: %2").arg(pos_).arg(what);
        return std::nullopt;
    }

    void skip_blanks()
    {
        while (pos_ < t_.size() && is_blank(t_[pos_]))
            ++pos_;
    }

    bool take(char16_t c)
    {
        if (pos_ < t_.size() && t_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    bool take_word(QStringView word)
    {
        if (t_.mid(pos_).startsWith(word, Qt::CaseInsensitive)) {
            pos_ += word.size();
            return true;
        }
        return false;
    }

    QString read_word()
    {
        const qsizetype start = pos_;
        while (pos_ < t_.size() && is_name_char(t_[pos_]))
            ++pos_;
        return t_.mid(start, pos_ - start).toString();
    }

    // Reads `key=value` pairs up to the closing parenthesis (consumed).
    bool read_attrs(syntax_attrs& attrs, int depth, QString& error)
    {
        if (depth > max_depth)
            return fail(error, QStringLiteral("nested too deeply")), false;
        for (;;) {
            skip_blanks();
            if (pos_ >= t_.size())
                return fail(error, QStringLiteral("missing \")\"")), false;
            if (take(u')'))
                return true;
            const QString key = read_word().toLower();
            if (key.isEmpty())
                return fail(error, QStringLiteral("expected an attribute name")), false;
            skip_blanks();
            if (!take(u'='))
                return fail(error, QStringLiteral("expected \"=\" after \"%1\"").arg(key)), false;
            skip_blanks();
            syntax_node value;
            if (take(u'(')) {
                value.list = std::make_shared<syntax_attrs>();
                if (!read_attrs(*value.list, depth + 1, error))
                    return false;
            } else if (pos_ < t_.size() && (t_[pos_] == u'"' || t_[pos_] == u'\'')) {
                if (!read_quoted(value.text, error))
                    return false;
            } else if (!read_bare(value.text, error)) {
                return false;
            }
            attrs.emplace_back(key, std::move(value));
        }
    }

    bool read_quoted(QString& out, QString& error)
    {
        const QChar quote = t_[pos_++];
        for (;;) {
            if (pos_ >= t_.size())
                return fail(error, QStringLiteral("unterminated text")), false;
            const QChar c = t_[pos_++];
            if (c == quote)
                return true;
            if (c != u'~') {
                out += c;
                continue;
            }
            if (pos_ >= t_.size())
                return fail(error, QStringLiteral("unterminated text")), false;
            const QChar e = t_[pos_++];
            switch (e.unicode()) {
            case u't':
                out += u'\t';
                break;
            case u'r':
                out += u'\r';
                break;
            case u'n':
                out += u'\n';
                break;
            default: // ~" ~' ~~ and any other character stand for themselves
                out += e;
            }
        }
    }

    // A bare value: name characters with balanced parentheses, as in char(10).
    bool read_bare(QString& out, QString& error)
    {
        const qsizetype start = pos_;
        while (pos_ < t_.size() && is_name_char(t_[pos_]))
            ++pos_;
        if (pos_ < t_.size() && t_[pos_] == u'(') {
            ++pos_;
            while (pos_ < t_.size() && t_[pos_] != u')' && t_[pos_] != u'(')
                ++pos_;
            if (!take(u')'))
                return fail(error, QStringLiteral("unbalanced \"(\" in a value")), false;
        }
        if (pos_ == start)
            return fail(error, QStringLiteral("expected a value")), false;
        out = t_.mid(start, pos_ - start).toString();
        return true;
    }

    QStringView t_;
    qsizetype pos_ = 0;
};

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

    int additive(int depth)
    {
        int left = multiplicative(depth);
        for (;;) {
            skip_blanks();
            if (left < 0 || pos_ >= t_.size() || (t_[pos_] != u'+' && t_[pos_] != u'-'))
                return left;
            const op kind = t_[pos_++] == u'+' ? op::add : op::sub;
            left = binary(kind, left, multiplicative(depth));
        }
    }

    int multiplicative(int depth)
    {
        int left = unary(depth);
        for (;;) {
            skip_blanks();
            if (left < 0 || pos_ >= t_.size() || (t_[pos_] != u'*' && t_[pos_] != u'/'))
                return left;
            const op kind = t_[pos_++] == u'*' ? op::mul : op::div;
            left = binary(kind, left, unary(depth));
        }
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

std::optional<definition> parse_definition(QStringView text, QString& error)
{
    error.clear();
    return definition_reader(text).read(error);
}

const syntax_node* find_attr(const syntax_attrs& attrs, QStringView key)
{
    for (const auto& [k, v] : attrs)
        if (k == key)
            return &v;
    return nullptr;
}

std::optional<dw_expression> parse_expression(QStringView text, QString& error)
{
    dw_expression e;
    if (!expression_reader(text, e).read(error))
        return std::nullopt;
    return e;
}

std::optional<dw_value> dw_expression::eval(const datawindow& dw, long row, int depth) const
{
    if (root < 0)
        return std::nullopt;
    return eval_node(dw, root, row, depth);
}

std::optional<dw_value> dw_expression::eval_node(const datawindow& dw, int index, long row,
                                                 int depth) const
{
    const node& n = nodes[static_cast<std::size_t>(index)];
    switch (n.kind) {
    case op::number:
        return dw_value{n.n};
    case op::text:
        return dw_value{n.s};
    case op::name:
        return dw.value_of(n.s, row, depth + 1);
    case op::lookup: {
        const int column = dw.column_number(n.s);
        if (column == 0)
            return std::nullopt;
        return dw_value{dw.lookup_display(row, column)};
    }
    case op::neg: {
        auto a = eval_node(dw, n.a, row, depth);
        if (!a || std::holds_alternative<QString>(*a))
            return std::nullopt;
        if (const auto* d = std::get_if<decimal>(&*a))
            return dw_value{-*d};
        return dw_value{};
    }
    default:
        break;
    }
    auto a = eval_node(dw, n.a, row, depth);
    auto b = eval_node(dw, n.b, row, depth);
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

std::optional<evaluate_call> parse_evaluate(QStringView path)
{
    QStringView p = path.trimmed();
    if (!p.startsWith(u"evaluate", Qt::CaseInsensitive))
        return std::nullopt;
    p = p.mid(8).trimmed();
    if (!p.startsWith(u'(') || !p.endsWith(u')'))
        return std::nullopt;
    p = p.mid(1, p.size() - 2).trimmed();
    if (p.isEmpty() || (p[0] != u'\'' && p[0] != u'"'))
        return std::nullopt;
    const QChar quote = p[0];
    evaluate_call call;
    qsizetype i = 1;
    for (; i < p.size() && p[i] != quote; ++i) {
        if (p[i] == u'~' && i + 1 < p.size())
            ++i;
        call.expression += p[i];
    }
    if (i >= p.size())
        return std::nullopt;
    QStringView rest = p.mid(i + 1).trimmed();
    if (!rest.startsWith(u','))
        return std::nullopt;
    bool ok = false;
    call.row = rest.mid(1).trimmed().toLong(&ok);
    if (!ok)
        return std::nullopt;
    return call;
}

std::optional<std::vector<std::pair<QString, bool>>> parse_sort(QStringView criteria)
{
    std::vector<std::pair<QString, bool>> keys;
    QString text = criteria.toString();
    text.replace(u',', u' ');
    const QStringList words = text.split(u' ', Qt::SkipEmptyParts);
    if (words.isEmpty() || words.size() % 2 != 0)
        return std::nullopt;
    for (qsizetype i = 0; i < words.size(); i += 2) {
        const QString order = words[i + 1].toUpper();
        if (order != u"A" && order != u"D")
            return std::nullopt;
        keys.emplace_back(words[i], order == u"D");
    }
    return keys;
}

} // namespace rt::detail
