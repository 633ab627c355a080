// The hexadecimal and URL encoders of the general function object.

#include "text_p.h"
#include "u_orlen_fun.h"

#include <rt/value/codepage.h>

#include <QHash>
#include <QStringDecoder>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include <sys/mman.h>

namespace lumora {

namespace detail {

QByteArray to_bytes(QStringView text, encoding code)
{
    switch (code) {
    case encoding::ansi:
        return rt::to_ansi(text);
    case encoding::utf8:
        return text.toUtf8();
    case encoding::utf16le:
    case encoding::utf16be: {
        QByteArray bytes(text.size() * 2, Qt::Uninitialized);
        char* out = bytes.data();
        for (const QChar c : text) {
            if (code == encoding::utf16le)
                qToLittleEndian<quint16>(c.unicode(), out);
            else
                qToBigEndian<quint16>(c.unicode(), out);
            out += 2;
        }
        return bytes;
    }
    }
    return {};
}

void prefer_huge_pages(void* data, std::size_t bytes)
{
    constexpr std::size_t large = std::size_t(4) << 20;
    if (bytes < large)
        return;
    constexpr std::uintptr_t page = 4096;
    const auto begin = (reinterpret_cast<std::uintptr_t>(data) + page - 1) & ~(page - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(page - 1);
    // Only a hint: where huge pages are off, or the range is no mapping of its own, nothing
    // changes.
    ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

QString from_bytes(QByteArrayView bytes, encoding code)
{
    QString text;
    // A leading U+FEFF is a character like any other, not a byte-order mark.
    constexpr auto flags =
        QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom;
    switch (code) {
    case encoding::ansi:
        text = rt::from_ansi(bytes);
        break;
    case encoding::utf8:
        text = QStringDecoder(QStringConverter::Utf8, flags).decode(bytes);
        break;
    case encoding::utf16le:
        text = QStringDecoder(QStringConverter::Utf16LE, flags).decode(bytes);
        break;
    case encoding::utf16be:
        text = QStringDecoder(QStringConverter::Utf16BE, flags).decode(bytes);
        break;
    }
    const qsizetype nul = text.indexOf(QChar(0));
    if (nul >= 0)
        text.truncate(nul);
    return text;
}

} // namespace detail

namespace {

constexpr char16_t hex_digits[] = u"0123456789ABCDEF";

/// The two digits of every byte, as two UTF-16 units in memory order.
constexpr std::array<char32_t, 256> byte_digits = [] {
    std::array<char32_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b) {
        const char16_t d[2] = {hex_digits[b >> 4], hex_digits[b & 0xf]};
        t[b] = std::bit_cast<char32_t>(d);
    }
    return t;
}();

/// Writes the digits of a non-zero unit in ANSI or UTF-8 without leading zeros; a unit ending in
/// "00" keeps only its first two digits. Returns the new end.
char16_t* put_short_unit(char16_t* p, unsigned v)
{
    const int count = v >= 0x1000 ? 4 : v >= 0x100 ? 3 : v >= 0x10 ? 2 : 1;
    // Only what is kept is written: the result has room for two digits a byte, no more.
    const int kept = count >= 3 && (v & 0xff) == 0 ? 2 : count;
    for (int k = 0; k < kept; ++k)
        p[k] = hex_digits[(v >> (4 * (count - 1 - k))) & 0xf];
    return p + kept;
}

/// Writes the digits of the non-zero unit made of bytes `hi` and `lo` in ANSI or UTF-8: four
/// digits when the unit has no leading zero and does not end in "00", fewer otherwise.
char16_t* put_unit(char16_t* p, unsigned hi, unsigned lo)
{
    if (hi >= 0x10 && lo != 0) {
        std::memcpy(p, &byte_digits[hi], sizeof(char32_t));
        std::memcpy(p + 2, &byte_digits[lo], sizeof(char32_t));
        return p + 4;
    }
    return put_short_unit(p, (hi << 8) | lo);
}

/// The number of UTF-8 bytes of `text`, a surrogate counting as two (a pair as four). Written
/// without branches so that the compiler makes it one pass of vector instructions.
qsizetype utf8_length(QStringView text)
{
    const char16_t* units = text.utf16();
    const qsizetype n = text.size();
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = units[i];
        bytes += 1 + (c >= 0x80) + (c >= 0x800) - ((c & 0xf800) == 0xd800);
    }
    return bytes;
}

/// Writes the digits of the units of `bytes` (first byte high, the count even) in ANSI or UTF-8
/// from `p`, up to a zero unit, which sets `*stopped`. Returns the new end.
char16_t* put_units(char16_t* p, const unsigned char* bytes, qsizetype count, bool* stopped)
{
    for (qsizetype k = 0; k < count; k += 2) {
        const unsigned hi = bytes[k], lo = bytes[k + 1];
        if (hi >= 0x10 && lo != 0) [[likely]] {
            std::memcpy(p, &byte_digits[hi], sizeof(char32_t));
            std::memcpy(p + 2, &byte_digits[lo], sizeof(char32_t));
            p += 4;
        } else if ((hi | lo) == 0) {
            *stopped = true; // the first zero unit ends the digits
            return p;
        } else {
            p = put_short_unit(p, (hi << 8) | lo);
        }
    }
    return p;
}

/// The digits of the units of the UTF-8 form of `text`, as append_units() writes them, without
/// building the byte string: the bytes are made in small blocks that stay in the cache. Empty
/// (null) for a text with a lone surrogate, whose bytes the converter decides.
QString utf8_unit_digits(QStringView text)
{
    // Two digits a byte at most (a last odd byte is paired with a zero byte and keeps two).
    const qsizetype most = 2 * utf8_length(text);
    QString out(most, Qt::Uninitialized);
    char16_t* p = reinterpret_cast<char16_t*>(out.data());
    detail::prefer_huge_pages(p, std::size_t(most) * sizeof(char16_t));
    char16_t* const first = p;

    constexpr qsizetype block = 2048; // characters; their bytes take at most 3 each
    unsigned char bytes[3 * block + 8];
    qsizetype pending = 0; // a byte of the last block whose unit is still open
    bool stopped = false;
    const char16_t* in = text.utf16();
    const qsizetype n = text.size();
    for (qsizetype start = 0; start < n && !stopped;) {
        qsizetype end = std::min(n, start + block);
        // A surrogate pair is never split between two blocks.
        if (end < n && QChar::isHighSurrogate(in[end - 1]))
            --end;
        unsigned char* b = bytes + pending;
        for (qsizetype i = start; i < end; ++i) {
            const char32_t c = in[i];
            if ((c & 0xf800) != 0xd800) [[likely]] {
                // All three forms are built and the right one picked with masks: a branch on
                // the mixture of ASCII and Chinese would be mispredicted all the time.
                const std::uint32_t one = c;
                const std::uint32_t two = (0xc0 | (c >> 6)) | ((0x80 | (c & 0x3f)) << 8);
                const std::uint32_t three = (0xe0 | (c >> 12)) | ((0x80 | ((c >> 6) & 0x3f)) << 8) |
                                            ((0x80 | (c & 0x3f)) << 16);
                const std::uint32_t wide = 0u - std::uint32_t(c >= 0x80);
                const std::uint32_t wider = 0u - std::uint32_t(c >= 0x800);
                const std::uint32_t word = (one & ~wide) | (two & wide & ~wider) | (three & wider);
                const unsigned length = 1 + (wide & 1) + (wider & 1);
                std::memcpy(b, &word, sizeof word);
                b += length;
            } else if (QChar::isHighSurrogate(c) && i + 1 < end &&
                       QChar::isLowSurrogate(in[i + 1])) {
                const char32_t cp = QChar::surrogateToUcs4(char16_t(c), in[++i]);
                b[0] = static_cast<unsigned char>(0xf0 | (cp >> 18));
                b[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3f));
                b[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3f));
                b[3] = static_cast<unsigned char>(0x80 | (cp & 0x3f));
                b += 4;
            } else {
                return QString();
            }
        }
        const qsizetype count = b - bytes;
        p = put_units(p, bytes, count & ~qsizetype(1), &stopped);
        pending = count & 1;
        if (pending)
            bytes[0] = bytes[count - 1];
        start = end;
    }
    if (!stopped && pending && bytes[0] != 0)
        p = put_unit(p, bytes[0], 0);
    out.truncate(p - first);
    return out;
}

/// Appends the digits of the 16-bit units of `bytes` (first byte high) up to the first zero unit;
/// a final single byte is paired with a zero byte.
void append_units(QString& out, QByteArrayView bytes, encoding code)
{
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    const bool utf16 = code == encoding::utf16le || code == encoding::utf16be;
    const qsizetype start = out.size();
    // Two digits a byte at most, a last odd byte included: room for exactly that, so that a
    // reserve() of the same size beforehand is never outgrown.
    out.resize(start + 2 * n);
    char16_t* const first = reinterpret_cast<char16_t*>(out.data()) + start;
    char16_t* p = first;
    if (utf16) {
        // UTF-16 bytes come in pairs (the 100-byte buffer is even too).
        for (qsizetype i = 0; i + 1 < n; i += 2) {
            const unsigned hi = b[i], lo = b[i + 1];
            if ((hi | lo) == 0)
                break;
            // Four digits, always.
            std::memcpy(p, &byte_digits[hi], sizeof(char32_t));
            std::memcpy(p + 2, &byte_digits[lo], sizeof(char32_t));
            p += 4;
        }
    } else {
        bool stopped = false;
        p = put_units(p, b, n & ~qsizetype(1), &stopped);
        if (!stopped && (n & 1) && b[n - 1] != 0)
            p = put_unit(p, b[n - 1], 0);
    }
    out.truncate(start + (p - first));
}

/// Texts of this many characters or fewer go through a zero-filled buffer of short_buffer bytes.
constexpr qsizetype short_text = 50;
constexpr qsizetype short_buffer = 100;

/// `text` without the memory a shorter result left unused, when that is more than a tenth.
QString fitted(QString text)
{
    if (text.capacity() - text.size() > text.size() / 10)
        text.squeeze();
    return text;
}

QString hexencode_text(QStringView text, encoding code)
{
    if (code == encoding::utf8 && text.size() > short_text) {
        QString out = utf8_unit_digits(text);
        if (!out.isNull())
            return fitted(std::move(out));
    }
    QByteArray bytes = detail::to_bytes(text, code);
    if (text.size() <= short_text) {
        // Bytes beyond the buffer are lost; the zeros after the text end the units.
        bytes.truncate(short_buffer);
    }
    QString out;
    out.reserve(2 * bytes.size());
    detail::prefer_huge_pages(out.data(), std::size_t(out.capacity()) * sizeof(char16_t));
    append_units(out, bytes, code);
    return fitted(std::move(out));
}

/// The bytes of one character for urlencode, without going through a converter where the
/// encoding is plain arithmetic.
class char_bytes {
public:
    explicit char_bytes(encoding code) : code_(code) {}

    QByteArrayView operator()(QStringView character)
    {
        const char32_t cp = character.size() == 2
                                ? QChar::surrogateToUcs4(character[0], character[1])
                                : character[0].unicode();
        const bool lone_surrogate = character.size() == 1 && QChar::isSurrogate(cp);
        if (code_ == encoding::ansi || lone_surrogate) {
            auto it = cache_.find(cp);
            if (it == cache_.end())
                it = cache_.insert(cp, detail::to_bytes(character, code_));
            return *it;
        }
        int n = 0;
        switch (code_) {
        case encoding::utf8:
            if (cp < 0x10000) {
                buffer_[n++] = static_cast<char>(0xe0 | (cp >> 12));
            } else {
                buffer_[n++] = static_cast<char>(0xf0 | (cp >> 18));
                buffer_[n++] = static_cast<char>(0x80 | ((cp >> 12) & 0x3f));
            }
            buffer_[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
            buffer_[n++] = static_cast<char>(0x80 | (cp & 0x3f));
            break;
        case encoding::utf16le:
        case encoding::utf16be:
            for (const QChar c : character) {
                const char16_t u = c.unicode();
                const char lo = static_cast<char>(u & 0xff), hi = static_cast<char>(u >> 8);
                buffer_[n++] = code_ == encoding::utf16le ? lo : hi;
                buffer_[n++] = code_ == encoding::utf16le ? hi : lo;
            }
            break;
        default:
            break;
        }
        return QByteArrayView(buffer_.data(), n);
    }

private:
    encoding code_;
    std::array<char, 4> buffer_{};
    QHash<char32_t, QByteArray> cache_;
};

/// Characters from here upwards are escaped.
constexpr char16_t first_escaped = 0x4e00;

} // namespace

QString u_orlen_fun::hexencode(const std::optional<QString>& as_text, encoding ae_encode) const
{
    if (!as_text)
        return {};
    return hexencode_text(*as_text, ae_encode);
}

QString u_orlen_fun::hexstring(const std::optional<QString>& as_text, encoding ae_encode) const
{
    return hexencode(as_text, ae_encode);
}

QString u_orlen_fun::hexdecode(QStringView ac_text, encoding ae_encode) const
{
    const qsizetype pairs = ac_text.size() / 2;
    QByteArray bytes(pairs, Qt::Uninitialized);
    for (qsizetype i = 0; i < pairs; ++i)
        bytes[i] = static_cast<char>(detail::hex_pair_byte(ac_text[2 * i], ac_text[2 * i + 1]));
    return detail::from_bytes(bytes, ae_encode);
}

QString u_orlen_fun::urlencode(QStringView as_text, encoding ae_encode) const
{
    QString out;
    out.reserve(as_text.size() + as_text.size() / 2);
    char_bytes bytes_of(ae_encode);
    QString digits;
    const qsizetype n = as_text.size();
    for (qsizetype i = 0; i < n;) {
        const QChar c = as_text[i];
        if (c.unicode() < first_escaped) {
            // Runs of unescaped characters are copied whole.
            qsizetype j = i + 1;
            while (j < n && as_text[j].unicode() < first_escaped)
                ++j;
            out.append(as_text.mid(i, j - i));
            i = j;
            continue;
        }
        // A surrogate pair is one character.
        const qsizetype len =
            c.isHighSurrogate() && i + 1 < n && as_text[i + 1].isLowSurrogate() ? 2 : 1;
        // One character is a short text: its bytes, then zeros, as hexencode reads them.
        digits.clear();
        append_units(digits, bytes_of(as_text.mid(i, len)), ae_encode);
        // "%" before every pair of digits (before positions 1, 4, 7, ... of the growing text).
        const qsizetype limit = digits.size() * 3 / 2;
        for (qsizetype p = 1; p <= limit; p += 3)
            digits.insert(p - 1, u'%');
        out.append(digits);
        i += len;
    }
    return out;
}

QString u_orlen_fun::urldecode(QStringView as_text, encoding ae_encode) const
{
    QString result;
    result.reserve(as_text.size());
    QString pending; // digits of consecutive escapes, decoded together
    const qsizetype n = as_text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = as_text[i];
        if (c == u'%') {
            // Only the characters that exist after a final "%" are taken.
            const qsizetype take = std::min<qsizetype>(2, n - i - 1);
            pending.append(as_text.mid(i + 1, take));
            i += take;
            continue;
        }
        if (!pending.isEmpty()) {
            result.append(hexdecode(pending, ae_encode));
            pending.clear();
        }
        result.append(c);
    }
    if (!pending.isEmpty())
        result.append(hexdecode(pending, ae_encode));
    return result;
}

} // namespace lumora
