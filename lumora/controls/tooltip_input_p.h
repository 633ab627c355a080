#pragma once

// What the three tooltip-aware input controls share: the mouse-move handling that feeds the
// tooltip service, the focus colours and the painter defaults.

#include <lumora/controls/uo_tooltip.h>

#include <rt/ui/mouse_messages.h>
#include <rt/ui/units.h>

#include <QColor>
#include <QFont>
#include <QMouseEvent>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QWidget>

#include <cstdint>

namespace lumora::detail {

/// Background of a control with the input focus, and without it.
inline const QColor focus_color{0, 255, 255};
inline const QColor unfocused_color{255, 255, 255};

/// What a control remembers of its registration with a tooltip service.
struct tip_registration {
    QPointer<uo_tooltip> service;
    QString tag;
    QSize size;
    std::int32_t id = 0;
};

/// The tooltip handling of a mouse move over `control`: picks the service's style from
/// `tooltiptype` (1 normal, 2 balloon, anything else: nothing more happens), registers the control
/// unless it is registered with this service under the same tag and size, and relays the move.
/// Returns true when the move was relayed.
bool tip_mouse_move(QWidget* control, std::int16_t tooltiptype, uo_tooltip* service,
                    const QString& tag, tip_registration& registration);

/// The runtime's mouse-move event of a control: makes the Qt event the current message and
/// hands its key flags and position in layout units to `handler`.
template <typename Handler>
void dispatch_mouse_move(QWidget* control, QMouseEvent* event, Handler handler);

/// Sets the background colour of the control's editable area and face.
void set_background(QWidget* control, const QColor& color);

/// Font "宋体" 12 pt, weight 400, with faces that render Chinese where that one is missing.
QFont control_font();

/// Applies the painter defaults: the control font and a size in layout units (a height of 0
/// keeps the control's natural height).
void apply_painter_defaults(QWidget* control, int width_units, int height_units);

} // namespace lumora::detail

template <typename Handler>
void lumora::detail::dispatch_mouse_move(QWidget* control, QMouseEvent* event, Handler handler)
{
    const rt::mouse_message m = rt::mouse_message_of(*event);
    const rt::current_mouse_message_scope scope(m);
    const QPoint p = event->position().toPoint();
    const qreal dpi = control->logicalDpiX();
    handler(m.wparam, rt::pixels_to_units_x(p.x(), dpi), rt::pixels_to_units_y(p.y(), dpi));
}
