#include "u_orlen_fun.h"

#include "text_p.h"

#include <rt/value/errors.h>

#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QWidget>

#include <algorithm>
#include <bit>
#include <cmath>
#include <compare>
#include <cstring>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumora {

bool detail::has_drive(QStringView path)
{
    if (path.size() < 2 || path[1] != u':')
        return false;
    const char16_t c = path[0].unicode();
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

QString detail::host_path(QStringView path)
{
    QString p = path.toString();
    if (has_drive(p))
        p.remove(0, 2);
    p.replace(u'\\', u'/');
    if (p.startsWith(u':'))
        p.prepend(QStringLiteral("./"));
    return p;
}

void u_orlen_fun::move(QWidget* adw_control) const
{
    if (!adw_control)
        throw rt::null_object_reference();
    QWidget* parent = adw_control->parentWidget();
    adw_control->raise();
    const QPoint pointer = QCursor::pos();
    adw_control->move(parent && !adw_control->isWindow() ? parent->mapFromGlobal(pointer)
                                                         : pointer);
}

namespace {

/// How often `unit` occurs in `text`. Written so that the compiler counts with vector
/// instructions.
qsizetype count_unit(QStringView text, char16_t unit)
{
    const char16_t* in = text.utf16();
    const qsizetype n = text.size();
    qsizetype count = 0;
    // Blocks small enough for 32-bit sums, which vectorise better than 64-bit ones.
    for (qsizetype start = 0; start < n; start += 1 << 20) {
        const qsizetype end = std::min(n, start + (qsizetype(1) << 20));
        std::uint32_t block = 0;
        for (qsizetype i = start; i < end; ++i)
            block += in[i] == unit;
        count += block;
    }
    return count;
}

/// Room after a result for whole blocks of eight units to be stored past its end.
constexpr qsizetype store_slack = 8;

/// `text` with each of its `count` occurrences of `unit` replaced by `with`.
QString replace_unit(QStringView text, char16_t unit, QStringView with, qsizetype count)
{
    const qsizetype n = text.size();
    const qsizetype wn = with.size();
    const qsizetype size = n + count * (wn - 1);
    QString out(size + store_slack, Qt::Uninitialized);
    char16_t* o = reinterpret_cast<char16_t*>(out.data());
    detail::prefer_huge_pages(o, std::size_t(size) * sizeof(char16_t));
    const char16_t* in = text.utf16();
    const char16_t* w = with.utf16();
    qsizetype i = 0;
#if defined(__SSE2__)
    // Eight units at a time: a block without the unit is stored whole; otherwise the block is
    // stored, the end moved back to the unit, and the replacement stored over the rest.
    char16_t padded[store_slack] = {};
    std::memcpy(padded, w, std::size_t(std::min(wn, store_slack)) * sizeof(char16_t));
    const __m128i replacement = _mm_loadu_si128(reinterpret_cast<const __m128i*>(padded));
    const __m128i needle = _mm_set1_epi16(static_cast<short>(unit));
    while (i + 8 <= n) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(v, needle)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), v);
        if (mask == 0) {
            o += 8;
            i += 8;
            continue;
        }
        const int k = std::countr_zero(mask) / 2;
        o += k;
        if (wn <= store_slack)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o), replacement);
        else
            std::memcpy(o, w, std::size_t(wn) * sizeof(char16_t));
        o += wn;
        i += k + 1;
    }
#endif
    for (; i < n; ++i) {
        if (in[i] == unit) {
            std::memcpy(o, w, std::size_t(wn) * sizeof(char16_t));
            o += wn;
        } else {
            *o++ = in[i];
        }
    }
    out.truncate(size);
    return out;
}

/// `text` with the non-overlapping occurrences of `find` at `at` replaced by `with`.
QString replace_at(QStringView text, qsizetype find, QStringView with,
                   const std::vector<qsizetype>& at)
{
    const qsizetype size = text.size() + qsizetype(at.size()) * (with.size() - find);
    QString out(size, Qt::Uninitialized);
    char16_t* o = reinterpret_cast<char16_t*>(out.data());
    detail::prefer_huge_pages(o, std::size_t(size) * sizeof(char16_t));
    const auto copy = [&](QStringView part) {
        std::memcpy(o, part.utf16(), std::size_t(part.size()) * sizeof(char16_t));
        o += part.size();
    };
    qsizetype done = 0;
    for (const qsizetype q : at) {
        copy(text.sliced(done, q - done));
        copy(with);
        done = q + find;
    }
    copy(text.sliced(done));
    return out;
}

} // namespace

std::optional<QString> u_orlen_fun::replace(const std::optional<QString>& as_text,
                                            const std::optional<QString>& as_str1,
                                            const std::optional<QString>& as_str2) const
{
    if (!as_text)
        return std::nullopt;
    if (!as_str1 || as_str1->isEmpty())
        return as_text;
    const QStringView text = *as_text;
    const QStringView find = *as_str1;
    // The result is counted before it is written, so that it is made once at its exact size.
    if (find.size() == 1) {
        const qsizetype count = count_unit(text, find[0].unicode());
        if (count == 0)
            return as_text;
        if (!as_str2)
            return std::nullopt;
        return replace_unit(text, find[0].unicode(), *as_str2, count);
    }
    std::vector<qsizetype> at;
    for (qsizetype q = text.indexOf(find); q >= 0; q = text.indexOf(find, q + find.size()))
        at.push_back(q);
    if (at.empty())
        return as_text;
    if (!as_str2)
        return std::nullopt;
    return replace_at(text, find.size(), *as_str2, at);
}

std::optional<rt::decimal> u_orlen_fun::power(const std::optional<rt::decimal>& ad_num,
                                              std::optional<std::int16_t> ad_power) const
{
    if (!ad_num || !ad_power)
        return std::nullopt;
    return detail::raised(*ad_num, *ad_power);
}

namespace {

bool is_null(const QVariant& v)
{
    return !v.isValid() || v.isNull();
}

std::optional<rt::decimal> as_number(const QVariant& v)
{
    switch (v.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::SChar:
        return rt::decimal(v.toLongLong());
    case QMetaType::UInt:
    case QMetaType::UShort:
    case QMetaType::ULong:
    case QMetaType::UChar: // every unsigned type up to 32 bits fits in int64
        return rt::decimal(static_cast<std::int64_t>(v.toULongLong()));
    case QMetaType::ULongLong: {
        const qulonglong u = v.toULongLong();
        return rt::decimal::from_text(QString::number(u));
    }
    case QMetaType::Double:
    case QMetaType::Float:
        // The shortest text that reads back as the same double.
        return rt::decimal::from_text(
            QString::number(v.toDouble(), 'g', QLocale::FloatingPointShortest));
    default:
        if (v.metaType() == QMetaType::fromType<rt::decimal>())
            return v.value<rt::decimal>();
        return std::nullopt;
    }
}

/// An element of arraysort with what its comparisons need, worked out once: converting a
/// double to an exact decimal for every comparison made sorting thousands of them take seconds.
struct sort_element {
    explicit sort_element(QVariant v)
        : value(std::move(v)), null(is_null(value)), number(null ? std::nullopt : as_number(value)),
          infinity(null ? 0 : infinity_of(value)),
          text(!null && value.metaType() == QMetaType::fromType<QString>())
    {
    }
    /// 1 for positive infinity, -1 for negative infinity (doubles and floats), else 0.
    static int infinity_of(const QVariant& v)
    {
        const int id = v.metaType().id();
        if (id != QMetaType::Double && id != QMetaType::Float)
            return 0;
        const double x = v.toDouble();
        return std::isinf(x) ? (x > 0 ? 1 : -1) : 0;
    }
    bool numeric() const { return number || infinity != 0; }
    QVariant value;
    bool null;
    std::optional<rt::decimal> number;
    int infinity; // an infinite double has no decimal value but orders all the same
    bool text;
};

/// The runtime's ordinary comparison: numbers by value, texts by code units, otherwise whatever
/// Qt can order. std::nullopt when the two cannot be ordered.
std::optional<std::partial_ordering> compare(const sort_element& a, const sort_element& b)
{
    if (a.null || b.null)
        return std::nullopt;
    if (a.numeric() && b.numeric()) {
        if (a.infinity != 0 || b.infinity != 0)
            return a.infinity <=> b.infinity; // a finite number counts as 0 here
        return *a.number <=> *b.number;
    }
    if (a.text && b.text) {
        const int c =
            QString::compare(*static_cast<const QString*>(a.value.constData()),
                             *static_cast<const QString*>(b.value.constData()), Qt::CaseSensitive);
        return c < 0   ? std::partial_ordering::less
               : c > 0 ? std::partial_ordering::greater
                       : std::partial_ordering::equivalent;
    }
    if (a.numeric() || b.numeric())
        return std::nullopt;
    const QPartialOrdering o = QVariant::compare(a.value, b.value);
    if (o == QPartialOrdering::Less)
        return std::partial_ordering::less;
    if (o == QPartialOrdering::Greater)
        return std::partial_ordering::greater;
    if (o == QPartialOrdering::Equivalent)
        return std::partial_ordering::equivalent;
    return std::nullopt;
}

} // namespace

std::vector<QVariant> u_orlen_fun::arraysort(std::vector<QVariant> a,
                                             const std::optional<QString>& as_sort) const
{
    const bool ascending = as_sort && *as_sort == u"asc";
    const std::size_t n = a.size();
    std::vector<sort_element> elements;
    elements.reserve(n);
    for (QVariant& v : a)
        elements.emplace_back(std::move(v));
    std::vector<QVariant> result(n);
    for (std::size_t i = 0; i < n; ++i) {
        std::size_t m = i;
        for (std::size_t j = i; j < n; ++j) {
            const auto order = compare(elements[m], elements[j]);
            if (order && (ascending ? *order > 0 : *order < 0))
                m = j;
        }
        // Element i is not looked at again, so it may move into the gap at m.
        result[i] = std::move(elements[m].value);
        if (m != i)
            elements[m] = std::move(elements[i]);
    }
    return result;
}

rt::decimal u_orlen_fun::todec(const std::optional<QString>& as_num,
                               const std::optional<rt::decimal>& ad_sys) const
{
    if (!as_num || !ad_sys)
        return rt::decimal(0);
    return detail::todec(*as_num, *ad_sys);
}

QString u_orlen_fun::decto(const std::optional<rt::decimal>& ad_dec,
                           std::optional<std::uint16_t> aui_sys) const
{
    if (!ad_dec || !aui_sys || *aui_sys < 2)
        return {};
    return detail::decto(*ad_dec, *aui_sys);
}

std::vector<QString> u_orlen_fun::getsep(const std::optional<QString>& as_text,
                                         const std::optional<QString>& as_sep,
                                         std::optional<std::uint16_t> ai_end) const
{
    if (!as_text || !as_sep || !ai_end)
        return {};
    if (as_sep->isEmpty())
        return {*as_text};
    const QStringView text = *as_text;
    const QStringView sep = *as_sep;
    // 0 asks for every piece.
    const std::size_t limit = *ai_end;
    std::vector<QString> pieces;
    auto split = [&](QStringView in, qsizetype start) {
        for (qsizetype q = in.indexOf(sep, start); q >= 0 && (limit == 0 || pieces.size() < limit);
             q = in.indexOf(sep, start)) {
            pieces.emplace_back(in.mid(start, q - start).toString());
            start = q + sep.size();
        }
        return start;
    };
    const qsizetype rest = split(text, 0);
    // The text is read as if it ended with the separator. Only the part not yet split is copied
    // for that: a separator may begin in it and end in the appended one.
    if (!text.endsWith(sep) && (limit == 0 || pieces.size() < limit))
        split(text.mid(rest).toString().append(sep), 0);
    return pieces;
}

namespace {

bool is_separator(QChar c)
{
    return c == u'\\' || c == u'/';
}

} // namespace

QString u_orlen_fun::createpath(const std::optional<QString>& as_filepath) const
{
    if (!as_filepath)
        return {};
    qsizetype first = 0, last = as_filepath->size();
    while (first < last && (*as_filepath)[first] == u' ')
        ++first;
    while (last > first && (*as_filepath)[last - 1] == u' ')
        --last;
    const QString path = as_filepath->mid(first, last - first);
    if (path.isEmpty())
        return {};

    // After a drive letter the search for separators starts behind "X:\".
    const qsizetype from = detail::has_drive(path) ? 3 : 0;
    for (qsizetype q = from; q < path.size(); ++q) {
        if (!is_separator(path[q]))
            continue;
        const QString prefix = path.left(q);
        const QString dir = detail::host_path(prefix);
        if (dir.isEmpty())
            continue; // the root
        // No directory can have U+0000 in its name; Qt would warn on standard error.
        if (dir.contains(QChar(0)))
            return prefix;
        const QFileInfo info(dir);
        if (info.isDir())
            continue;
        if (!QDir().mkdir(dir))
            return prefix;
    }

    if (path[0] == u'\\')
        return {};
    const QString file = detail::host_path(path);
    // A drive letter alone names no file here, and no file has U+0000 in its name.
    if (file.isEmpty() || file.contains(QChar(0)))
        return path;
    if (QFileInfo(file).isFile())
        return {};
    // NewOnly never opens an existing directory, FIFO or device, so this cannot block.
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return path;
    f.close();
    return {};
}

} // namespace lumora
