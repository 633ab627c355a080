// The tooltip service: one tooltip window shared by the controls registered with it.

#include "uo_tooltip_p.h"
#include "uo_tooltip_window_p.h"

#include <rt/ui/handles.h>
#include <rt/ui/mouse_messages.h>
#include <rt/ui/window_messages.h>
#include <rt/value/codepage.h>

#include <QCursor>
#include <QWidget>

#include <limits>

namespace lumora {

namespace detail {

std::int32_t handle_of(QWidget* w)
{
    // Handles fit in 31 bits, so a long holds them.
    return static_cast<std::int32_t>(rt::register_window(w));
}

QByteArray tip_text_block(const QString& tip)
{
    // The first 80 characters (a surrogate pair is one), then as many whole characters as fit
    // the block in the ANSI code page: a Chinese character takes two bytes and is never split.
    return rt::to_ansi_cut(tip, uo_tooltip::tip_text_bytes, 80);
}

bool update_tool(uo_tooltip& service, QWidget* control, std::int32_t id, const QString& tip)
{
    if (service.hwndtt() < 1 || control == nullptr || id < 1)
        return false;
    const QByteArray block = tip_text_block(tip);
    uo_tooltip::toolinfo ti;
    ti.hwnd = handle_of(control);
    ti.uid = static_cast<std::uint32_t>(id);
    ti.rc = {0, 0, control->width(), control->height()};
    ti.lpsztext = block.constData();
    const auto window = static_cast<rt::handle>(service.hwndtt());
    return rt::send_message(window, uo_tooltip::ttm_newtoolrect, 0, rt::lparam_from(&ti)) != 0 &&
           rt::send_message(window, uo_tooltip::ttm_updatetiptext, 0, rt::lparam_from(&ti)) != 0;
}

} // namespace detail

struct uo_tooltip::Private {
    std::int32_t hwndtt = 0;
    std::int32_t toolid = 1;
};

uo_tooltip::uo_tooltip(QObject* parent) : QObject(parent), d(std::make_unique<Private>()) {}

uo_tooltip::~uo_tooltip()
{
    // The window and every tool in it go with the service.
    if (d->hwndtt > 0)
        delete rt::window_from_handle(static_cast<rt::handle>(d->hwndtt));
}

std::int32_t uo_tooltip::controlregister(QWidget* controlobject, const QString& tip,
                                         std::int16_t flag)
{
    if (d->hwndtt < 1) {
        const std::uint32_t style =
            tipstyle == style_balloontip ? tts_balloon | tts_noprefix : tts_noprefix;
        auto* w = new detail::tooltip_window((style & tts_balloon) != 0);
        d->hwndtt = detail::handle_of(w);
    }
    const std::int32_t id = d->toolid;
    d->toolid = id == std::numeric_limits<std::int32_t>::max() ? 1 : id + 1;

    const QByteArray block = detail::tip_text_block(tip);
    toolinfo ti;
    ti.cbsize = toolinfo_size;
    ti.uflags = static_cast<std::uint16_t>(flag);
    ti.hwnd = detail::handle_of(controlobject);
    ti.hinstance = 0;
    ti.uid = static_cast<std::uint32_t>(id);
    ti.lpsztext = block.constData();
    if (controlobject)
        ti.rc = {0, 0, controlobject->width(), controlobject->height()};
    const rt::lresult reply =
        rt::send_message(static_cast<rt::handle>(d->hwndtt), ttm_addtool, 1, rt::lparam_from(&ti));
    return reply == 0 ? -1 : id;
}

void uo_tooltip::showtip(QWidget* controlobject)
{
    if (!controlobject || d->hwndtt < 1)
        return;
    const auto current = rt::current_mouse_message();
    const rt::mouse_message m =
        current ? *current : rt::mouse_message_at(controlobject->mapFromGlobal(QCursor::pos()));
    msg relayed;
    relayed.hwnd = detail::handle_of(controlobject);
    relayed.message = wm_mousemove;
    relayed.wparam = m.wparam;
    relayed.lparam = m.lparam;
    rt::send_message(static_cast<rt::handle>(d->hwndtt), ttm_relayevent, 0,
                     rt::lparam_from(&relayed));
}

std::int32_t uo_tooltip::hwndtt() const
{
    return d->hwndtt;
}

std::int32_t uo_tooltip::toolid() const
{
    return d->toolid;
}

} // namespace lumora
