#pragma once

// The status bar's private part: the control's state and its window procedure, which answers
// the status bar messages that the of_* functions send to the control's handle.

#include "u_statusbar.h"

#include <rt/ui/handles.h>
#include <rt/ui/window_messages.h>

#include <QByteArray>
#include <QMetaObject>
#include <QPointer>

#include <map>

class QSizeGrip;

namespace lumora {

class n_tmg;

// Hidden: a nested class would otherwise take the exported class's visibility, and its functions
// defined out of line would join the library's interface.
struct LUMORA_NO_EXPORT u_statusbar::Private final : rt::message_target {
    /// The side of a part's icon in pixels.
    static constexpr int icon_side = 16;

    // One part (pane) as the control keeps it.
    struct part {
        std::int32_t edge = -1;
        QString text;
        std::uint16_t type = 0;
        quintptr data = 0; // owner-drawn parts: the value given instead of a text
        rt::handle icon = 0;
        QString tip;
    };

    u_statusbar* q;
    rt::handle hwnd = 0;
    std::vector<part> parts{part{}};
    part simple_part;
    bool simple = false;
    rt::colorref background = rt::color_default;
    int min_height = 0;
    bool placing = false;

    QPointer<QWidget> watched_parent;
    QPointer<QWidget> window;
    QMetaObject::Connection menu_connection;
    QSizeGrip* grip = nullptr;
    n_tmg* timer = nullptr;
    bool use_timer = false;
    rt::decimal refresh_interval{1};
    // The texts of owner-drawn parts set through of_settext, whose address the part holds.
    std::map<int, QByteArray> owner_texts;

    explicit Private(u_statusbar* owner) : q(owner) {}

    /// Answers a status bar message (sb_…); 0 for a message the control does not know.
    rt::lresult window_proc(std::uint32_t message, rt::wparam w, rt::lparam l) override;

    /// Sends a message to the control's own handle, as a host would.
    rt::lresult send(std::uint32_t message, rt::wparam w, rt::lparam l) const
    {
        return rt::send_message(hwnd, message, w, l);
    }

    part* part_at(rt::wparam index);
    int bar_height() const;
    rt::rect32 part_rect(std::size_t index) const;
    bool in_layout() const;
    void place();
    void place_grip();
    void attach();
    void connect_menu();
    void draw_part(QPainter& painter, const rt::rect32& r, const part& p, int index,
                   bool last) const;
};

} // namespace lumora
