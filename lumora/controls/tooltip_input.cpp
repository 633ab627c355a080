// The behaviour the three tooltip-aware input controls share.

#include "tooltip_input_p.h"
#include "uo_tooltip_p.h"

#include <QPalette>
#include <QWidget>

namespace lumora::detail {

bool tip_mouse_move(QWidget* control, std::int16_t tooltiptype, uo_tooltip* service,
                    const QString& tag, tip_registration& registration)
{
    if (tooltiptype == 1 || tooltiptype == 2) {
        if (!service)
            return false; // the window has not assigned its service yet
        service->tipstyle =
            tooltiptype == 1 ? uo_tooltip::style_normal : uo_tooltip::style_balloontip;
    } else {
        return false;
    }
    // Registered once: a later move only relays. A new text or a new size of the control changes
    // that tool in place, so that the window holds one tool per control however often they change.
    const bool registered = registration.service == service && registration.id >= 1;
    if (!registered || registration.tag != tag || registration.size != control->size()) {
        if (!registered || !update_tool(*service, control, registration.id, tag))
            registration.id = service->controlregister(control, tag, 0);
        registration.service = service;
        registration.tag = tag;
        registration.size = control->size();
    }
    service->showtip(control);
    return true;
}

void set_background(QWidget* control, const QColor& color)
{
    QPalette p = control->palette();
    p.setColor(QPalette::Base, color);
    p.setColor(QPalette::Button, color);
    control->setPalette(p);
}

QFont control_font()
{
    QFont f;
    f.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"),
                   QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                   QStringLiteral("Droid Sans Fallback")});
    f.setPointSize(12);
    f.setWeight(QFont::Normal);
    return f;
}

void apply_painter_defaults(QWidget* control, int width_units, int height_units)
{
    control->setFont(control_font());
    control->setMouseTracking(true);
    const qreal dpi = control->logicalDpiX();
    const int w = rt::units_to_pixels_x(width_units, dpi);
    const int h = height_units > 0 ? rt::units_to_pixels_y(height_units, control->logicalDpiY())
                                   : control->sizeHint().height();
    control->resize(w, h);
}

} // namespace lumora::detail
