// A drop-down list box with a tooltip and a focus colour.

#include "uo_ddlb.h"

#include "tooltip_input_p.h"

namespace lumora {

struct uo_ddlb::Private {
    detail::tip_registration registration;
};

uo_ddlb::uo_ddlb(QWidget* parent) : QComboBox(parent), d(std::make_unique<Private>())
{
    setFrame(true);
    // The height of a drop-down list box is that of its dropped-down list; the closed box keeps
    // its natural height.
    detail::apply_painter_defaults(this, 549, 0);
    setMaxVisibleItems(
        std::max(1, rt::units_to_pixels_y(476, logicalDpiY()) / fontMetrics().height() - 1));
}

uo_ddlb::~uo_ddlb() = default;

long uo_ddlb::mouse_move(std::uint32_t, int, int)
{
    detail::tip_mouse_move(this, tooltiptype, tooltip.data(), tag, d->registration);
    return 0;
}

void uo_ddlb::getfocus()
{
    detail::set_background(this, detail::focus_color);
}

void uo_ddlb::losefocus()
{
    detail::set_background(this, detail::unfocused_color);
}

void uo_ddlb::mouseMoveEvent(QMouseEvent* event)
{
    detail::dispatch_mouse_move(this, event,
                                [this](std::uint32_t f, int x, int y) { mouse_move(f, x, y); });
    QComboBox::mouseMoveEvent(event);
}

void uo_ddlb::focusInEvent(QFocusEvent* event)
{
    getfocus();
    QComboBox::focusInEvent(event);
}

void uo_ddlb::focusOutEvent(QFocusEvent* event)
{
    losefocus();
    QComboBox::focusOutEvent(event);
}

} // namespace lumora
