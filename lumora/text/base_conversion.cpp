// Number-base conversion of the general function object: decto, todec and exact powers.

#include "text_p.h"

#include <rt/errors.h>

#include <algorithm>

namespace lumora::detail {

namespace {

/// The digit of a value below the base: "0"-"9", then the character with code 55 + value. The
/// code is a 16-bit unit; values that would pass U+FFFF wrap around.
QChar digit(std::int64_t value)
{
    if (value <= 9)
        return QChar(static_cast<char16_t>(u'0' + value));
    return QChar(static_cast<char16_t>(static_cast<std::uint64_t>(55 + value) & 0xffffu));
}

bool is_finite(const rt::decimal& value)
{
    const QString text = value.to_text();
    return !text.isEmpty() && (text[0].isDigit() || (text.size() > 1 && text[1].isDigit()));
}

/// Conversion of an integer too large for 64 bits: decimal remainder steps until it fits.
QString decto_large(rt::decimal value, std::uint16_t base)
{
    const rt::decimal b(base);
    QString low; // digits in reverse order
    std::optional<std::int64_t> small;
    while (!(small = value.to_int64())) {
        rt::decimal d = value - (value / b).truncated() * b;
        // Past 34 significant digits the quotient is rounded; bring the remainder back into
        // range so that the loop still ends.
        if (d < rt::decimal(0))
            d = d + b;
        if (d >= b)
            d = d - b;
        const auto dv = d.to_int64();
        const std::int64_t digit_value = dv && *dv >= 0 && *dv < base ? *dv : 0;
        low.append(digit(digit_value));
        value = ((value - rt::decimal(digit_value)) / b).truncated();
    }
    std::reverse(low.begin(), low.end());
    return decto_integer(*small, base) + low;
}

} // namespace

QString decto_integer(std::int64_t value, std::uint16_t base)
{
    if (value < base) {
        if (value <= 9)
            return QString::number(value); // negative numbers stay in decimal
        return QString(digit(value));
    }
    char16_t buffer[64];
    char16_t* end = buffer + std::size(buffer);
    char16_t* p = end;
    while (value >= base) {
        const std::int64_t d = value % base;
        *--p = digit(d).unicode();
        value = (value - d) / base;
    }
    *--p = digit(value).unicode();
    return QString(reinterpret_cast<const QChar*>(p), end - p);
}

QString decto(const rt::decimal& value, std::uint16_t base)
{
    if (base < 2 || !is_finite(value))
        return {};
    if (value.scale() == 0) {
        if (const auto v = value.to_int64())
            return decto_integer(*v, base);
        return decto_large(value, base);
    }

    const rt::decimal whole = value.truncated();
    rt::decimal fraction = value - whole;
    QString result = decto(whole, base);
    // Between 0 and -1 the integer part is 0 and would lose the sign.
    if (fraction < rt::decimal(0)) {
        fraction = -fraction;
        if (whole == rt::decimal(0))
            result.prepend(u'-');
    }
    result.append(u'.');
    const rt::decimal b(base);
    for (int i = 0; i < 10; ++i) {
        fraction = fraction * b;
        const rt::decimal k = fraction.truncated();
        // Fractional digits are written in decimal: ten is "10", not "A".
        result.append(k.to_text());
        if (fraction == k)
            break;
        fraction = fraction - k;
    }
    return result;
}

rt::decimal raised(rt::decimal base, std::int64_t exponent)
{
    if (exponent < 0) {
        // -exponent cannot overflow for the exponents used here (16-bit or a text length).
        return rt::decimal(1) / raised(base, -exponent);
    }
    rt::decimal result(1);
    while (exponent > 0) {
        if (exponent & 1)
            result = result * base;
        exponent >>= 1;
        if (exponent > 0)
            base = base * base;
    }
    return result;
}

namespace {

/// The value of one character: a character after "9" is its code minus 55, a decimal digit its
/// value, anything else (a sign, a point, a blank) reads as the number 0.
std::int64_t single_value(QChar c)
{
    if (c.unicode() > u'9')
        return c.unicode() - 55;
    if (c.unicode() >= u'0')
        return c.unicode() - u'0';
    return 0;
}

bool reads_negative(QStringView text)
{
    const auto value = rt::decimal::from_text(text);
    return value && *value < rt::decimal(0);
}

} // namespace

rt::decimal todec(QStringView text, const rt::decimal& base)
{
    int sign = 1;
    if (reads_negative(text)) {
        sign = -1;
        text = text.mid(1);
    }
    if (text.size() == 1)
        return rt::decimal(single_value(text[0]) * sign);

    const qsizetype n = text.size();
    const qsizetype point = text.indexOf(u'.'); // 0-based, -1 when there is none
    std::int64_t exponent = point >= 0 ? point - 1 : n - 1;
    rt::decimal sum;
    for (qsizetype i = 0; i < n; ++i) {
        if (i == point)
            continue; // the point takes no power
        const std::int64_t v = single_value(text[i]);
        if (v != 0)
            sum = sum + rt::decimal(v) * raised(base, exponent);
        else if (exponent < 0 && base == rt::decimal(0))
            throw rt::division_by_zero(); // 0 × 0^-k still divides by zero
        --exponent;
    }
    return sign < 0 ? -sum : sum;
}

std::uint8_t hex_pair_byte(QChar high, QChar low)
{
    // A pair reads as a negative decimal number only as "-" and a digit 1 to 9.
    if (high == u'-' && low.unicode() >= u'1' && low.unicode() <= u'9')
        return static_cast<std::uint8_t>(-(low.unicode() - u'0') & 0xff);
    std::int64_t value;
    if (high == u'.')
        value = single_value(low) / 16; // one fractional digit, truncated
    else if (low == u'.')
        value = single_value(high);
    else
        value = single_value(high) * 16 + single_value(low);
    return static_cast<std::uint8_t>(value & 0xff);
}

} // namespace lumora::detail
