#include <rt/ui/mouse_messages.h>

#include <rt/ui/control_messages.h>
#include <rt/ui/window_messages.h>

#include <QGuiApplication>
#include <QMouseEvent>

namespace rt {

namespace {

thread_local std::optional<mouse_message> current_message;

} // namespace

std::uint32_t key_flags(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers)
{
    std::uint32_t f = 0;
    if (buttons & Qt::LeftButton)
        f |= mk_lbutton;
    if (buttons & Qt::RightButton)
        f |= mk_rbutton;
    if (buttons & Qt::MiddleButton)
        f |= mk_mbutton;
    if (modifiers & Qt::ShiftModifier)
        f |= mk_shift;
    if (modifiers & Qt::ControlModifier)
        f |= mk_control;
    return f;
}

std::int32_t pack_point(QPoint p)
{
    const auto x = static_cast<std::uint16_t>(static_cast<std::int16_t>(p.x()));
    const auto y = static_cast<std::uint16_t>(static_cast<std::int16_t>(p.y()));
    return static_cast<std::int32_t>(make_long(x, y));
}

QPoint unpack_point(std::int32_t packed)
{
    const auto u = static_cast<std::uint32_t>(packed);
    return {static_cast<std::int16_t>(low_word(u)), static_cast<std::int16_t>(high_word(u))};
}

mouse_message mouse_message_of(const QMouseEvent& event)
{
    return {key_flags(event.buttons(), event.modifiers()), pack_point(event.position().toPoint())};
}

mouse_message mouse_message_at(QPoint client_pos)
{
    return {key_flags(QGuiApplication::mouseButtons(), QGuiApplication::keyboardModifiers()),
            pack_point(client_pos)};
}

std::optional<mouse_message> current_mouse_message()
{
    return current_message;
}

current_mouse_message_scope::current_mouse_message_scope(mouse_message m)
    : previous_(current_message)
{
    current_message = m;
}

current_mouse_message_scope::~current_mouse_message_scope()
{
    current_message = previous_;
}

} // namespace rt
