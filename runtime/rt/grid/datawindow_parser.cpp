// Parsers of the grid: definition texts, evaluate forms and sort specifications.

#include <rt/grid/datawindow_p.h>

namespace rt::detail {

namespace {

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
