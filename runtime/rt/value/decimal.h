#pragma once

#include <QString>
#include <QStringView>

#include <compare>
#include <cstdint>
#include <optional>

// liblumora.so speaks rt::decimal in its interface and carries this class, so the class and its
// operators keep default visibility even where the rest of the runtime is compiled hidden. The
// shared libraries that link the runtime statically hide its archive (--exclude-libs).
#if defined(__GNUC__)
#define RT_DECIMAL_EXPORT __attribute__((visibility("default")))
#else
#define RT_DECIMAL_EXPORT
#endif

namespace rt {

/// Exact decimal number (decimal128: 34 significant digits), the platform's `decimal`.
/// Never passes through binary floating point. Text is written in plain notation, never with an
/// exponent.
class RT_DECIMAL_EXPORT decimal {
public:
    decimal(); ///< zero
    decimal(std::int64_t value);

    /// The platform's text-to-number conversion: optional blanks around an optional sign,
    /// digits with an optional decimal point (".5", "5." are numbers), an optional exponent
    /// ("1e3"). Anything else, the empty text included, is no number (std::nullopt).
    static std::optional<decimal> from_text(QStringView text);

    /// Plain notation without trailing zeros in the fraction: "1.3", "10", "-0.25", "0".
    QString to_text() const;

    /// Rounded to `places` decimals, halves away from zero.
    decimal rounded(int places) const;
    /// The integer part (towards zero).
    decimal truncated() const;
    /// Number of decimals needed to write the value exactly (0 for integers).
    int scale() const;

    /// False for the infinities and NaN that arithmetic gives when a result is too large (or
    /// undefined); from_text() never gives one.
    bool is_finite() const;

    /// Exact conversion when the value is an integer within range, otherwise std::nullopt.
    std::optional<std::int64_t> to_int64() const;
    double to_double() const;

    friend decimal operator+(const decimal& a, const decimal& b);
    friend decimal operator-(const decimal& a, const decimal& b);
    friend decimal operator*(const decimal& a, const decimal& b);
    /// Throws rt::division_by_zero when b is zero.
    friend decimal operator/(const decimal& a, const decimal& b);
    decimal operator-() const;

    friend bool operator==(const decimal& a, const decimal& b);
    friend std::strong_ordering operator<=>(const decimal& a, const decimal& b);

private:
    struct bits {
        std::uint64_t w[2];
    };
    bits v_;
};

// Friends take their visibility from a declaration at namespace scope.
RT_DECIMAL_EXPORT decimal operator+(const decimal& a, const decimal& b);
RT_DECIMAL_EXPORT decimal operator-(const decimal& a, const decimal& b);
RT_DECIMAL_EXPORT decimal operator*(const decimal& a, const decimal& b);
RT_DECIMAL_EXPORT decimal operator/(const decimal& a, const decimal& b);
RT_DECIMAL_EXPORT bool operator==(const decimal& a, const decimal& b);
RT_DECIMAL_EXPORT std::strong_ordering operator<=>(const decimal& a, const decimal& b);

/// The platform's number display mask "###.##0": point as decimal separator, no thousands
/// separator, at most three decimals (rounded), trailing zeros dropped but at least one decimal
/// kept: 1.3 → "1.3", 2 → "2.0", 0 → "0.0", 1.23456 → "1.235". The text converts back to the
/// number it shows.
QString format_version(const decimal& value);

} // namespace rt
