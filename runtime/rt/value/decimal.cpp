#include <rt/value/decimal.h>

#include <rt/value/errors.h>

// libbidgcc000.a is the build that passes values by value and takes the rounding mode and the
// status flags as arguments (no global state): the three digits of its name are these settings.
#define DECIMAL_CALL_BY_REFERENCE 0
#define DECIMAL_GLOBAL_ROUNDING 0
#define DECIMAL_GLOBAL_EXCEPTION_FLAGS 0
extern "C" {
#include <bid_conf.h>
#include <bid_functions.h>
}

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace rt {

namespace {

// Arithmetic rounds to nearest with ties to even (as IEEE 754 decimal arithmetic does); only
// explicit rounding (rounded(), format_version) rounds halves away from zero.
constexpr _IDEC_round arithmetic_rounding = BID_ROUNDING_TO_NEAREST;

// Exponents beyond this already overflow or underflow decimal128 (its range is about ±6144);
// clamping keeps the text handed to the library short and free of integer overflow.
constexpr long exponent_clamp = 20000;

BID_UINT128 to_bid(const auto& bits)
{
    BID_UINT128 x;
    static_assert(sizeof x == sizeof bits);
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

template <typename Bits> Bits from_bid(const BID_UINT128& x)
{
    Bits bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

/// A finite value as the library writes it: sign, coefficient digits and exponent.
struct parts {
    bool negative = false;
    std::string digits; // no leading zeros; "0" for zero
    long exponent = 0;
};

parts split(BID_UINT128 x)
{
    _IDEC_flags flags = 0;
    char text[64] = {};
    bid128_to_string(text, x, &flags); // "+1234E-3"
    parts p;
    const char* s = text;
    if (*s == '-' || *s == '+')
        p.negative = *s++ == '-';
    while (*s >= '0' && *s <= '9')
        p.digits.push_back(*s++);
    if (*s == 'E')
        p.exponent = std::strtol(s + 1, nullptr, 10);
    const auto first = p.digits.find_first_not_of('0');
    p.digits.erase(0, first == std::string::npos ? p.digits.size() - 1 : first);
    if (p.digits.empty())
        p.digits = "0";
    return p;
}

bool is_zero(BID_UINT128 x)
{
    return bid128_isZero(x) != 0;
}

bool is_blank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

bool is_digit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

} // namespace

decimal::decimal() : decimal(std::int64_t{0}) {}

decimal::decimal(std::int64_t value) : v_(from_bid<bits>(bid128_from_int64(value))) {}

std::optional<decimal> decimal::from_text(QStringView text)
{
    qsizetype i = 0;
    qsizetype end = text.size();
    while (i < end && is_blank(text[i]))
        ++i;
    while (end > i && is_blank(text[end - 1]))
        --end;

    bool negative = false;
    if (i < end && (text[i] == u'+' || text[i] == u'-'))
        negative = text[i++] == u'-';

    // Significant digits without the point; the point moves the exponent instead.
    std::string digits;
    long exponent = 0;
    bool any_digit = false;
    for (; i < end && is_digit(text[i]); ++i) {
        any_digit = true;
        if (!digits.empty() || text[i] != u'0')
            digits.push_back(static_cast<char>(text[i].unicode()));
    }
    if (i < end && text[i] == u'.') {
        for (++i; i < end && is_digit(text[i]); ++i) {
            any_digit = true;
            if (!digits.empty() || text[i] != u'0')
                digits.push_back(static_cast<char>(text[i].unicode()));
            if (exponent > -exponent_clamp)
                --exponent;
        }
    }
    if (!any_digit)
        return std::nullopt;

    if (i < end && (text[i] == u'e' || text[i] == u'E')) {
        ++i;
        bool exponent_negative = false;
        if (i < end && (text[i] == u'+' || text[i] == u'-'))
            exponent_negative = text[i++] == u'-';
        if (i == end || !is_digit(text[i]))
            return std::nullopt;
        long written = 0;
        for (; i < end && is_digit(text[i]); ++i)
            written = std::min(written * 10 + (text[i].unicode() - u'0'), exponent_clamp);
        exponent += exponent_negative ? -written : written;
    }
    if (i != end)
        return std::nullopt;

    if (digits.empty())
        digits = "0";
    std::string normal = (negative ? "-" : "+") + digits + 'E' +
                         std::to_string(std::clamp(exponent, -exponent_clamp, exponent_clamp));
    _IDEC_flags flags = 0;
    const BID_UINT128 x = bid128_from_string(normal.data(), BID_ROUNDING_TIES_AWAY, &flags);
    if (!bid128_isFinite(x))
        return std::nullopt;
    decimal d;
    d.v_ = from_bid<bits>(x);
    return d;
}

QString decimal::to_text() const
{
    const BID_UINT128 x = to_bid(v_);
    if (!bid128_isFinite(x))
        return bid128_isNaN(x) ? QStringLiteral("NaN")
                               : QString::fromLatin1(bid128_isSigned(x) ? "-Infinity" : "Infinity");
    parts p = split(x);
    if (p.digits == "0")
        return QStringLiteral("0");
    std::string text;
    if (p.exponent >= 0) {
        text = p.digits + std::string(static_cast<std::size_t>(p.exponent), '0');
    } else {
        const auto fraction = static_cast<std::size_t>(-p.exponent);
        if (p.digits.size() <= fraction)
            p.digits.insert(0, fraction - p.digits.size() + 1, '0');
        text = p.digits;
        text.insert(text.size() - fraction, 1, '.');
        while (text.back() == '0')
            text.pop_back();
        if (text.back() == '.')
            text.pop_back();
    }
    if (p.negative)
        text.insert(0, 1, '-');
    return QString::fromLatin1(text);
}

decimal decimal::rounded(int places) const
{
    const BID_UINT128 x = to_bid(v_);
    if (!bid128_isFinite(x) || scale() <= places)
        return *this;
    _IDEC_flags flags = 0;
    // 1E-places carries the wanted exponent; quantize only shortens the coefficient here, so it
    // cannot fail for lack of digits.
    const BID_UINT128 quantum =
        bid128_scalbn(bid128_from_int64(1),
                      -static_cast<int>(std::clamp<long>(places, -exponent_clamp, exponent_clamp)),
                      arithmetic_rounding, &flags);
    decimal d;
    d.v_ = from_bid<bits>(bid128_quantize(x, quantum, BID_ROUNDING_TIES_AWAY, &flags));
    return d;
}

decimal decimal::truncated() const
{
    _IDEC_flags flags = 0;
    decimal d;
    d.v_ = from_bid<bits>(bid128_round_integral_zero(to_bid(v_), &flags));
    return d;
}

int decimal::scale() const
{
    const BID_UINT128 x = to_bid(v_);
    if (!bid128_isFinite(x))
        return 0;
    parts p = split(x);
    while (p.exponent < 0 && p.digits.size() > 1 && p.digits.back() == '0') {
        p.digits.pop_back();
        ++p.exponent;
    }
    if (p.digits == "0")
        return 0;
    return p.exponent < 0 ? static_cast<int>(-p.exponent) : 0;
}

bool decimal::is_finite() const
{
    return bid128_isFinite(to_bid(v_)) != 0;
}

std::optional<std::int64_t> decimal::to_int64() const
{
    const BID_UINT128 x = to_bid(v_);
    if (!bid128_isFinite(x) || scale() != 0)
        return std::nullopt;
    _IDEC_flags flags = 0;
    const std::int64_t value = bid128_to_int64_int(x, &flags);
    if (flags & BID_INVALID_EXCEPTION)
        return std::nullopt;
    return value;
}

double decimal::to_double() const
{
    _IDEC_flags flags = 0;
    return bid128_to_binary64(to_bid(v_), arithmetic_rounding, &flags);
}

decimal operator+(const decimal& a, const decimal& b)
{
    _IDEC_flags flags = 0;
    decimal d;
    d.v_ = from_bid<decimal::bits>(
        bid128_add(to_bid(a.v_), to_bid(b.v_), arithmetic_rounding, &flags));
    return d;
}

decimal operator-(const decimal& a, const decimal& b)
{
    _IDEC_flags flags = 0;
    decimal d;
    d.v_ = from_bid<decimal::bits>(
        bid128_sub(to_bid(a.v_), to_bid(b.v_), arithmetic_rounding, &flags));
    return d;
}

decimal operator*(const decimal& a, const decimal& b)
{
    _IDEC_flags flags = 0;
    decimal d;
    d.v_ = from_bid<decimal::bits>(
        bid128_mul(to_bid(a.v_), to_bid(b.v_), arithmetic_rounding, &flags));
    return d;
}

decimal operator/(const decimal& a, const decimal& b)
{
    const BID_UINT128 divisor = to_bid(b.v_);
    if (is_zero(divisor))
        throw division_by_zero();
    _IDEC_flags flags = 0;
    decimal d;
    d.v_ = from_bid<decimal::bits>(bid128_div(to_bid(a.v_), divisor, arithmetic_rounding, &flags));
    return d;
}

decimal decimal::operator-() const
{
    decimal d;
    d.v_ = from_bid<bits>(bid128_negate(to_bid(v_)));
    return d;
}

bool operator==(const decimal& a, const decimal& b)
{
    _IDEC_flags flags = 0;
    return bid128_quiet_equal(to_bid(a.v_), to_bid(b.v_), &flags) != 0;
}

std::strong_ordering operator<=>(const decimal& a, const decimal& b)
{
    _IDEC_flags flags = 0;
    const BID_UINT128 x = to_bid(a.v_);
    const BID_UINT128 y = to_bid(b.v_);
    if (bid128_quiet_less(x, y, &flags))
        return std::strong_ordering::less;
    if (bid128_quiet_equal(x, y, &flags))
        return std::strong_ordering::equal;
    return std::strong_ordering::greater;
}

} // namespace rt
