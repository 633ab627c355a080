#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace rt {

/// Layout units, the platform's measure of window and control geometry. At 96 dots per inch
/// 32 units are 7 pixels horizontally and 4 units are 1 pixel vertically; both scale with the
/// screen's logical DPI. Conversions round to the nearest pixel or unit.
///
/// \code
/// rt::units_to_pixels_x(2025);  // 443 at 96 dpi
/// rt::units_to_pixels_y(528);   // 132 at 96 dpi
/// \endcode
int units_to_pixels_x(int units, qreal dpi = 0);
int units_to_pixels_y(int units, qreal dpi = 0);
int pixels_to_units_x(int pixels, qreal dpi = 0);
int pixels_to_units_y(int pixels, qreal dpi = 0);

/// A rectangle given in layout units, in pixels. A dpi of 0 means the primary screen's logical
/// DPI (96 without a screen).
QRect units_to_pixels(int x, int y, int width, int height, qreal dpi = 0);

} // namespace rt
