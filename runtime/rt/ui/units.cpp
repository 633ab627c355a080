#include <rt/ui/units.h>

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

namespace rt {

namespace {

qreal effective_dpi(qreal dpi, bool vertical)
{
    if (dpi > 0)
        return dpi;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            return vertical ? screen->logicalDotsPerInchY() : screen->logicalDotsPerInchX();
    return 96;
}

int scaled(int value, qreal numerator, qreal denominator)
{
    return static_cast<int>(std::lround(value * numerator / denominator));
}

} // namespace

int units_to_pixels_x(int units, qreal dpi)
{
    return scaled(units, 7 * effective_dpi(dpi, false), 32 * 96.0);
}
int units_to_pixels_y(int units, qreal dpi)
{
    return scaled(units, effective_dpi(dpi, true), 4 * 96.0);
}
int pixels_to_units_x(int pixels, qreal dpi)
{
    return scaled(pixels, 32 * 96.0, 7 * effective_dpi(dpi, false));
}
int pixels_to_units_y(int pixels, qreal dpi)
{
    return scaled(pixels, 4 * 96.0, effective_dpi(dpi, true));
}

QRect units_to_pixels(int x, int y, int width, int height, qreal dpi)
{
    return {units_to_pixels_x(x, dpi), units_to_pixels_y(y, dpi), units_to_pixels_x(width, dpi),
            units_to_pixels_y(height, dpi)};
}

} // namespace rt
