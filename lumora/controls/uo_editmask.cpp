// A masked edit with a tooltip and a focus colour.

#include "uo_editmask.h"

#include "tooltip_input_p.h"

namespace lumora {

struct uo_editmask::Private {
    detail::tip_registration registration;
};

uo_editmask::uo_editmask(QWidget* parent) : QLineEdit(parent), d(std::make_unique<Private>())
{
    setFrame(true);
    detail::apply_painter_defaults(this, 457, 132);
}

uo_editmask::~uo_editmask() = default;

long uo_editmask::mousemove(std::uint32_t, int, int)
{
    detail::tip_mouse_move(this, tooltiptype, tooltip.data(), tag, d->registration);
    return 0;
}

void uo_editmask::getfocus()
{
    detail::set_background(this, detail::focus_color);
}

void uo_editmask::losefocus()
{
    detail::set_background(this, detail::unfocused_color);
}

void uo_editmask::mouseMoveEvent(QMouseEvent* event)
{
    detail::dispatch_mouse_move(this, event,
                                [this](std::uint32_t f, int x, int y) { mousemove(f, x, y); });
    QLineEdit::mouseMoveEvent(event);
}

void uo_editmask::focusInEvent(QFocusEvent* event)
{
    getfocus();
    QLineEdit::focusInEvent(event);
}

void uo_editmask::focusOutEvent(QFocusEvent* event)
{
    losefocus();
    QLineEdit::focusOutEvent(event);
}

} // namespace lumora
