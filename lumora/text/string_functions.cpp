#include "string_functions.h"

#include <rt/value/decimal.h>

#include <array>
#include <memory>

namespace lumora {

std::optional<QString> strtohex(const std::optional<QString>& str_sz)
{
    if (!str_sz)
        return std::nullopt;
    std::uint32_t n = 0;
    if (const auto value = rt::decimal::from_text(*str_sz)) {
        if (const auto whole = value->truncated().to_int64())
            n = static_cast<std::uint32_t>(static_cast<std::uint64_t>(*whole)); // modulo 2^32
    }
    constexpr char16_t digits[] = u"0123456789ABCDEF";
    QString result;
    while (n >= 16) {
        result.prepend(QChar(digits[n % 16]));
        n /= 16;
    }
    result.prepend(QChar(digits[n]));
    result.truncate(8);
    if (result.size() >= 5 && result.size() <= 7)
        result = (result + QStringLiteral("678")).left(8);
    return result;
}

namespace {

// The full-width characters and their half-width forms, paired by position.
constexpr char16_t full_width[] = u"０１２３４５６７８９"
                                  u"ＡＢＣＤＥＦＧＨＩＪＫＬＭＮＯＰＱＲＳＴＵＶＷＸＹＺ"
                                  u"ａｂｃｄｅｆｇｈｉｊｋｌｍｎｏｐｑｒｓｔｕｖｗｘｙｚ"
                                  u"（）〔〕【】〖〗｛｝《》％＋—－～：。、，；？！…｜“”〃\u3000";
constexpr char16_t half_width[] = u"0123456789"
                                  u"ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                  u"abcdefghijklmnopqrstuvwxyz"
                                  u"()[][][]{}<>%+---:.,,;?!-|\"\"\" ";
static_assert(std::size(full_width) == 93 && std::size(half_width) == 93,
              "92 characters on each side");

/// The half-width form of every character of the table, 0 for the others; first position wins.
const std::array<char16_t, 0x10000>& conversion()
{
    static const auto table = [] {
        auto t = std::make_unique<std::array<char16_t, 0x10000>>();
        t->fill(0);
        for (std::size_t i = 0; i + 1 < std::size(full_width); ++i) {
            if ((*t)[full_width[i]] == 0)
                (*t)[full_width[i]] = half_width[i];
        }
        return t;
    }();
    return *table;
}

} // namespace

QString qj_bj(const std::optional<QString>& str1)
{
    if (!str1)
        return QStringLiteral("");
    const auto& table = conversion();
    QString result = *str1;
    // No character of the table is a surrogate, so both halves of a pair pass unchanged.
    for (QChar& c : result) {
        if (const char16_t half = table[c.unicode()])
            c = QChar(half);
    }
    return result;
}

QString wf_wps_cell(std::int16_t c, std::int16_t r)
{
    // Letter number k is the character with code 64 + k (1 = A); codes wrap at 16 bits.
    const auto letter = [](int k) {
        return QChar(static_cast<char16_t>(static_cast<unsigned>(64 + k) & 0xffffu));
    };
    QString column;
    if (c > 26) {
        const int low = c % 26;
        int high = (c - low) / 26;
        QChar second;
        if (low == 0) {
            second = u'Z';
            --high;
        } else {
            second = letter(low);
        }
        column = QString(letter(high)) + second;
    } else {
        column = letter(c);
    }
    return column + QString::number(r);
}

} // namespace lumora
