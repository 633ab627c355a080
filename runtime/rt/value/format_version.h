#pragma once

#include <rt/value/decimal.h>

#include <QString>

namespace rt {

/// The platform's number display mask "###.##0", as version numbers are shown: point as decimal
/// separator, no thousands separator, at most three decimals (rounded), trailing zeros dropped but
/// at least one decimal kept: 1.3 → "1.3", 2 → "2.0", 0 → "0.0", 1.23456 → "1.235". The text
/// converts back to the number it shows.
QString format_version(const decimal& value);

} // namespace rt
