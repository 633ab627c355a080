#pragma once

// liblumora.so speaks rt::decimal in its interface and carries this class, so the class and its
// operators are marked for export from there; programs that link the runtime statically export
// nothing (and shared libraries that do hide its archive with --exclude-libs).
#include <lumora/lumora_export.h>

#include <QString>
#include <QStringView>

#include <compare>
#include <cstdint>
#include <optional>

namespace rt {

/// Exact decimal number (decimal128: 34 significant digits), the platform's `decimal`.
/// Never passes through binary floating point. Text is written in plain notation, never with an
/// exponent.
class LUMORA_EXPORT decimal {
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
LUMORA_EXPORT decimal operator+(const decimal& a, const decimal& b);
LUMORA_EXPORT decimal operator-(const decimal& a, const decimal& b);
LUMORA_EXPORT decimal operator*(const decimal& a, const decimal& b);
LUMORA_EXPORT decimal operator/(const decimal& a, const decimal& b);
LUMORA_EXPORT bool operator==(const decimal& a, const decimal& b);
LUMORA_EXPORT std::strong_ordering operator<=>(const decimal& a, const decimal& b);

} // namespace rt
