// A single-line edit with a tooltip and a focus colour.

#include "uo_dh_edit.h"

#include "tooltip_input_p.h"

namespace lumora {

struct uo_dh_edit::Private {
    detail::tip_registration registration;
};

uo_dh_edit::uo_dh_edit(QWidget* parent) : QLineEdit(parent), d(std::make_unique<Private>())
{
    setFrame(true);
    detail::apply_painter_defaults(this, 457, 132);
    detail::set_background(this, detail::unfocused_color);
}

uo_dh_edit::~uo_dh_edit() = default;

long uo_dh_edit::mouse_move(std::uint32_t, int, int)
{
    detail::tip_mouse_move(this, tooltiptype, tooltip.data(), tag, d->registration);
    return 0;
}

void uo_dh_edit::getfocus()
{
    detail::set_background(this, detail::focus_color);
}

void uo_dh_edit::losefocus()
{
    detail::set_background(this, detail::unfocused_color);
}

void uo_dh_edit::mouseMoveEvent(QMouseEvent* event)
{
    detail::dispatch_mouse_move(this, event,
                                [this](std::uint32_t f, int x, int y) { mouse_move(f, x, y); });
    QLineEdit::mouseMoveEvent(event);
}

void uo_dh_edit::focusInEvent(QFocusEvent* event)
{
    getfocus();
    QLineEdit::focusInEvent(event);
}

void uo_dh_edit::focusOutEvent(QFocusEvent* event)
{
    losefocus();
    QLineEdit::focusOutEvent(event);
}

} // namespace lumora
