// Number-base conversion of the general function object: decto, todec and exact powers.

#include "text_p.h"

#include <rt/value/errors.h>

#include <algorithm>
#include <vector>

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

/// A non-negative integer of any size as limbs of nine decimal digits, most significant first.
using limbs = std::vector<std::uint32_t>;
constexpr std::uint32_t limb_base = 1'000'000'000;

limbs limbs_of(QStringView digits)
{
    limbs result;
    qsizetype length = digits.size() % 9 == 0 ? 9 : digits.size() % 9;
    for (qsizetype pos = 0; pos < digits.size(); pos += length, length = 9) {
        std::uint32_t limb = 0;
        for (const QChar c : digits.mid(pos, length))
            limb = limb * 10 + (c.unicode() - u'0');
        if (limb != 0 || !result.empty())
            result.push_back(limb);
    }
    return result;
}

/// Divides in place (leading zero limbs dropped) and returns the remainder.
std::uint32_t divide(limbs& value, std::uint32_t divisor)
{
    std::uint64_t remainder = 0;
    for (std::uint32_t& limb : value) {
        const std::uint64_t current = remainder * limb_base + limb;
        limb = static_cast<std::uint32_t>(current / divisor);
        remainder = current % divisor;
    }
    value.erase(value.begin(), std::find_if(value.begin(), value.end(),
                                            [](std::uint32_t limb) { return limb != 0; }));
    return static_cast<std::uint32_t>(remainder);
}

/// A non-negative integer written in decimal digits, converted exactly: decimal division would
/// round past 34 significant digits.
QString integer_digits_in_base(QStringView digits, std::uint16_t base)
{
    limbs value = limbs_of(digits);
    if (value.empty())
        return QStringLiteral("0");
    QString low_first;
    while (!value.empty())
        low_first.append(digit(divide(value, base)));
    std::reverse(low_first.begin(), low_first.end());
    return low_first;
}

/// At most ten fractional digits of 0.`digits` in base `base`, each written in decimal. Exact:
/// the fraction is multiplied digit by digit, so a digit never reaches the base.
QString fraction_digits_in_base(QStringView digits, std::uint16_t base)
{
    std::vector<std::uint32_t> fraction(digits.size());
    std::transform(digits.begin(), digits.end(), fraction.begin(),
                   [](QChar c) { return static_cast<std::uint32_t>(c.unicode() - u'0'); });
    QString result;
    for (int i = 0; i < 10; ++i) {
        std::uint32_t carry = 0;
        bool rest_is_zero = true;
        for (auto it = fraction.rbegin(); it != fraction.rend(); ++it) {
            const std::uint32_t v = *it * base + carry;
            *it = v % 10;
            carry = v / 10;
            rest_is_zero = rest_is_zero && *it == 0;
        }
        // The whole part of the product is the next digit; ten is written "10", not "A".
        result.append(QString::number(carry));
        if (rest_is_zero)
            break;
    }
    return result;
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
    if (base < 2)
        return {};
    if (value.scale() == 0) {
        if (const auto v = value.to_int64())
            return decto_integer(*v, base);
    }
    // The plain text holds the exact coefficient: sign, integer digits, fraction digits.
    const QString text = value.to_text();
    QStringView digits = text;
    const bool negative = digits.startsWith(u'-');
    if (negative)
        digits = digits.mid(1);
    const qsizetype point = digits.indexOf(u'.');
    const QStringView whole = point < 0 ? digits : digits.first(point);
    const QStringView fraction = point < 0 ? QStringView() : digits.mid(point + 1);
    const auto is_digit = [](QChar c) { return c.unicode() >= u'0' && c.unicode() <= u'9'; };
    if (whole.isEmpty() || !std::all_of(whole.begin(), whole.end(), is_digit) ||
        !std::all_of(fraction.begin(), fraction.end(), is_digit))
        return {}; // not a finite number
    // A negative integer part is below the base and stays in decimal; between 0 and -1 the
    // sign is kept all the same.
    QString result = negative ? u'-' + whole.toString() : integer_digits_in_base(whole, base);
    if (point < 0)
        return result;
    return result + u'.' + fraction_digits_in_base(fraction, base);
}

namespace {

/// `base` to the power `exponent` by repeated squaring; an infinity when it is too large.
rt::decimal unchecked_power(rt::decimal base, std::uint64_t exponent)
{
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

} // namespace

rt::decimal raised(rt::decimal base, std::int64_t exponent)
{
    if (exponent >= 0) {
        const rt::decimal result = unchecked_power(base, static_cast<std::uint64_t>(exponent));
        if (!result.is_finite())
            throw rt::numeric_overflow();
        return result;
    }
    // -exponent cannot overflow for the exponents used here (16-bit or a text length).
    const rt::decimal divisor = unchecked_power(base, static_cast<std::uint64_t>(-exponent));
    // Too large a divisor: the quotient is below the smallest decimal and rounds to 0, as any
    // digit beyond the 34th does.
    if (!divisor.is_finite())
        return rt::decimal(0);
    if (divisor == rt::decimal(0) && base != rt::decimal(0))
        throw rt::numeric_overflow(); // the divisor was too small to hold: the quotient too large
    const rt::decimal result = rt::decimal(1) / divisor; // 0 to a negative power divides by 0
    if (!result.is_finite())
        throw rt::numeric_overflow();
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
    if (!sum.is_finite())
        throw rt::numeric_overflow();
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
