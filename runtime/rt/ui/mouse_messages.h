#pragma once

#include <QPoint>
#include <Qt>

#include <cstdint>
#include <optional>

class QMouseEvent;

namespace rt {

/// The parameters of a mouse message: key-state flags (mk_… of <rt/ui/control_messages.h>) and
/// the client position packed as x in the low word, y in the high word (both signed 16-bit).
struct mouse_message {
    std::uint32_t wparam = 0;
    std::int32_t lparam = 0;
};

/// The key-state flags of the buttons and modifier keys held.
std::uint32_t key_flags(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers);

/// Packs a client position the way a mouse message carries it: each coordinate wraps to 16 bits.
std::int32_t pack_point(QPoint p);
/// Unpacks a position packed by pack_point().
QPoint unpack_point(std::int32_t packed);

/// The message parameters of a Qt mouse event, positions in the widget's client pixels.
mouse_message mouse_message_of(const QMouseEvent& event);
/// The message parameters for a position and the keys and buttons held now.
mouse_message mouse_message_at(QPoint client_pos);

/// The mouse message being handled on this thread, if any (see current_mouse_message_scope).
std::optional<mouse_message> current_mouse_message();

/// Makes `m` the current mouse message while the scope lives, so that code called from a
/// control's mouse handling can read the message it handles; scopes nest.
class current_mouse_message_scope {
public:
    explicit current_mouse_message_scope(mouse_message m);
    ~current_mouse_message_scope();
    current_mouse_message_scope(const current_mouse_message_scope&) = delete;
    current_mouse_message_scope& operator=(const current_mouse_message_scope&) = delete;

private:
    std::optional<mouse_message> previous_;
};

} // namespace rt
