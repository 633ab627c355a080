#include <rt/value/profile.h>

#include <rt/value/codepage.h>
#include <rt/value/file_replace.h>
#include <rt/value/profile_p.h>

#include <QFile>
#include <QStringDecoder>

namespace rt {

namespace detail {

namespace {

constexpr char utf8_bom[] = "\xEF\xBB\xBF";
constexpr char utf16le_bom[] = "\xFF\xFE";

bool is_blank(QChar c)
{
    return c == u' ' || c == u'\t';
}

QStringView trimmed(QStringView s)
{
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && is_blank(s[begin]))
        ++begin;
    while (end > begin && is_blank(s[end - 1]))
        --end;
    return s.sliced(begin, end - begin);
}

bool same_name(QStringView a, QStringView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

/// The name of a section header line ("[name]"), or std::nullopt for any other line.
std::optional<QStringView> section_name(QStringView text)
{
    const QStringView t = trimmed(text);
    if (!t.startsWith(u'['))
        return std::nullopt;
    const qsizetype close = t.indexOf(u']');
    if (close < 0)
        return std::nullopt;
    return trimmed(t.sliced(1, close - 1));
}

bool is_comment(QStringView text)
{
    const QStringView t = trimmed(text);
    return t.startsWith(u';') || t.startsWith(u'#');
}

/// Position of the "=" of a key line, or -1 for blank lines, comments and headers.
qsizetype key_separator(QStringView text)
{
    if (is_comment(text) || section_name(text))
        return -1;
    const qsizetype eq = text.indexOf(u'=');
    if (eq < 0 || trimmed(text.first(eq)).isEmpty())
        return -1;
    return eq;
}

bool has_line_break(const QString& s)
{
    return s.contains(u'\n') || s.contains(u'\r');
}

} // namespace

ini_document ini_document::parse(QByteArrayView bytes)
{
    ini_document doc;
    if (bytes.startsWith(QByteArrayView(utf16le_bom, 2))) {
        doc.encoding_ = encoding::utf16le_bom;
        bytes = bytes.sliced(2);
        // A stray byte after the last code unit is kept, at the very end, but belongs to no line.
        if (bytes.size() % 2 != 0) {
            doc.tail_ = bytes.last(1).toByteArray();
            bytes.chop(1);
        }
    } else if (bytes.startsWith(QByteArrayView(utf8_bom, 3))) {
        doc.encoding_ = encoding::utf8_bom;
        bytes = bytes.sliced(3);
    } else {
        QStringDecoder probe(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
        const QString ignored = probe.decode(bytes);
        doc.encoding_ = probe.hasError() ? encoding::ansi : encoding::utf8;
    }

    // Lines are split on whole code units. '\n' and '\r' never occur inside a multi-byte
    // character of UTF-8 or of the double-byte code pages, nor as part of a surrogate pair.
    const qsizetype w = doc.unit();
    const qsizetype units = bytes.size() / w;
    qsizetype start = 0;
    while (start < units) {
        line l;
        qsizetype nl = start;
        while (nl < units && doc.unit_at(bytes, nl) != u'\n')
            ++nl;
        qsizetype end = nl;
        if (nl < units) {
            if (end > start && doc.unit_at(bytes, end - 1) == u'\r')
                --end;
            l.eol = bytes.sliced(end * w, (nl + 1 - end) * w).toByteArray();
        }
        l.raw = bytes.sliced(start * w, (end - start) * w).toByteArray();
        l.text = doc.decode(l.raw);
        doc.lines_.append(std::move(l));
        start = nl + 1;
    }
    return doc;
}

char16_t ini_document::unit_at(QByteArrayView raw, qsizetype i) const
{
    if (unit() == 1)
        return static_cast<unsigned char>(raw[i]);
    return static_cast<char16_t>(static_cast<unsigned char>(raw[2 * i]) |
                                 static_cast<unsigned char>(raw[2 * i + 1]) << 8);
}

QString ini_document::decode(QByteArrayView raw) const
{
    switch (encoding_) {
    case encoding::ansi:
        return from_ansi(raw);
    case encoding::utf16le_bom:
        return QStringDecoder(QStringConverter::Utf16LE, QStringConverter::Flag::Stateless)
            .decode(raw);
    default:
        return QString::fromUtf8(raw);
    }
}

qsizetype ini_document::find_section(const QString& section) const
{
    const QStringView wanted = trimmed(section);
    for (qsizetype i = 0; i < lines_.size(); ++i) {
        const auto name = section_name(lines_[i].text);
        if (name && same_name(*name, wanted))
            return i;
    }
    return -1;
}

qsizetype ini_document::find_key(qsizetype header, const QString& key) const
{
    const QStringView wanted = trimmed(key);
    for (qsizetype i = header + 1; i < lines_.size(); ++i) {
        const QString& text = lines_[i].text;
        if (section_name(text))
            break;
        const qsizetype eq = key_separator(text);
        if (eq >= 0 && same_name(trimmed(QStringView(text).first(eq)), wanted))
            return i;
    }
    return -1;
}

std::optional<QString> ini_document::value(const QString& section, const QString& key) const
{
    const qsizetype header = find_section(section);
    if (header < 0)
        return std::nullopt;
    const qsizetype at = find_key(header, key);
    if (at < 0)
        return std::nullopt;
    const QStringView text = lines_[at].text;
    QStringView v = trimmed(text.sliced(key_separator(text) + 1));
    if (v.size() >= 2 && v.startsWith(u'"') && v.endsWith(u'"'))
        v = v.sliced(1, v.size() - 2);
    return v.toString();
}

std::optional<QByteArray> ini_document::encode(const QString& text) const
{
    if (encoding_ == encoding::utf16le_bom)
        return QByteArray(
            QStringEncoder(QStringConverter::Utf16LE, QStringConverter::Flag::Stateless)
                .encode(text));
    if (encoding_ != encoding::ansi)
        return text.toUtf8();
    // A character the code page lacks would come back as '?': refuse rather than corrupt.
    return to_ansi_lossless(text);
}

QByteArray ini_document::default_eol() const
{
    for (const line& l : lines_)
        if (!l.eol.isEmpty())
            return l.eol;
    // A new or one-line file gets the platform's own line ending.
    return *encode(QStringLiteral("\r\n"));
}

bool ini_document::set(const QString& section, const QString& key, const QString& value)
{
    const QString s = trimmed(section).toString();
    const QString k = trimmed(key).toString();
    if (s.isEmpty() || k.isEmpty() || has_line_break(s) || has_line_break(k) ||
        has_line_break(value) || s.contains(u']') || k.contains(u'=') || k.startsWith(u'[') ||
        k.startsWith(u';') || k.startsWith(u'#'))
        return false;
    const std::optional<QByteArray> encoded_value = encode(value);
    if (!encoded_value)
        return false;

    const QByteArray eol = default_eol();
    auto make_line = [&](const QString& text) -> std::optional<line> {
        std::optional<QByteArray> raw = encode(text);
        if (!raw)
            return std::nullopt;
        return line{*raw, eol, text};
    };

    const qsizetype header = find_section(s);
    const qsizetype at = header < 0 ? -1 : find_key(header, k);
    if (at >= 0) {
        // Keep the key as written and the blanks around "=": only the value changes.
        line& l = lines_[at];
        const qsizetype units = l.raw.size() / unit();
        qsizetype value_start = 0;
        while (unit_at(l.raw, value_start) != u'=')
            ++value_start;
        ++value_start;
        while (value_start < units &&
               (unit_at(l.raw, value_start) == u' ' || unit_at(l.raw, value_start) == u'\t'))
            ++value_start;
        l.raw = l.raw.first(value_start * unit()) + *encoded_value;
        l.text = decode(l.raw);
        return true;
    }

    const std::optional<line> key_line = make_line(k + u'=' + value);
    if (!key_line)
        return false;
    if (header >= 0) {
        // After the last key of the section: blank lines and comments that lead into the next
        // section stay in front of it.
        qsizetype insert_at = header + 1;
        for (qsizetype i = header + 1; i < lines_.size() && !section_name(lines_[i].text); ++i)
            if (key_separator(lines_[i].text) >= 0)
                insert_at = i + 1;
        if (lines_[insert_at - 1].eol.isEmpty())
            lines_[insert_at - 1].eol = eol;
        lines_.insert(insert_at, *key_line);
        return true;
    }

    const std::optional<line> header_line = make_line(u'[' + s + u']');
    if (!header_line)
        return false;
    if (!lines_.isEmpty() && lines_.back().eol.isEmpty())
        lines_.back().eol = eol;
    lines_.append(*header_line);
    lines_.append(*key_line);
    return true;
}

QByteArray ini_document::bytes() const
{
    QByteArray out;
    if (encoding_ == encoding::utf8_bom)
        out.append(utf8_bom, 3);
    else if (encoding_ == encoding::utf16le_bom)
        out.append(utf16le_bom, 2);
    for (const line& l : lines_)
        out += l.raw + l.eol;
    return out + tail_;
}

} // namespace detail

QString profile_string(const QString& file, const QString& section, const QString& key,
                       const QString& default_value)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return default_value;
    const auto doc = detail::ini_document::parse(f.readAll());
    return doc.value(section, key).value_or(default_value);
}

std::optional<QByteArray> profile_with(const QString& file, const QString& section,
                                       const QString& key, const QString& value)
{
    detail::ini_document doc;
    QFile current(file);
    if (current.exists()) {
        if (!current.open(QIODevice::ReadOnly))
            return std::nullopt;
        doc = detail::ini_document::parse(current.readAll());
        if (current.error() != QFileDevice::NoError)
            return std::nullopt;
    }
    if (!doc.set(section, key, value))
        return std::nullopt;
    return doc.bytes();
}

int set_profile_string(const QString& file, const QString& section, const QString& key,
                       const QString& value)
{
    const std::optional<QByteArray> bytes = profile_with(file, section, key, value);
    if (!bytes)
        return -1;

    // Written beside the file and renamed over it: a crash leaves the old file or the new one.
    file_replacement out(file);
    return out.write(*bytes) && out.commit() ? 1 : -1;
}

} // namespace rt
