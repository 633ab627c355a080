// The tooltip window: the tools it keeps, the timing of a tip from relayed mouse messages, and
// the painting of a plain or balloon tip.

#include "uo_tooltip_window_p.h"

#include <rt/ui/control_messages.h>
#include <rt/ui/handles.h>
#include <rt/ui/mouse_messages.h>
#include <rt/value/codepage.h>

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

#include <algorithm>

namespace lumora::detail {

tooltip_window::tooltip_window(bool balloon)
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput),
      balloon_(balloon)
{
    setObjectName(QStringLiteral("uo_tooltip_window"));
    rt::register_window(this, this);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    initial_timer_.setSingleShot(true);
    autopop_timer_.setSingleShot(true);
    autopop_timer_.setInterval(default_autopop_ms);
    connect(&initial_timer_, &QTimer::timeout, this, &tooltip_window::show_pending);
    connect(&autopop_timer_, &QTimer::timeout, this, [this] { pop(true); });
    // The platform's tooltip font, with a face that has Chinese glyphs when the system lacks
    // the usual one.
    QFont f = QApplication::font("QTipLabel");
    f.setFamilies({f.family(), QStringLiteral("宋体"), QStringLiteral("SimSun"),
                   QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC")});
    setFont(f);
}

tooltip_window::~tooltip_window()
{
    rt::unregister_handle(rt::handle_of(this));
}

rt::lresult tooltip_window::window_proc(std::uint32_t msg, rt::wparam wparam, rt::lparam lparam)
{
    switch (msg) {
    case rt::ttm_addtool:
        return add_tool(rt::lparam_to<const uo_tooltip::toolinfo>(lparam));
    case rt::ttm_deltool:
    case rt::ttm_newtoolrect:
    case rt::ttm_updatetiptext:
        return change_tool(msg, rt::lparam_to<const uo_tooltip::toolinfo>(lparam));
    case rt::ttm_relayevent:
        relay(rt::lparam_to<const uo_tooltip::msg>(lparam));
        return 0;
    case rt::ttm_setdelaytime:
        set_delay(wparam, lparam);
        return 0;
    case rt::ttm_gettoolcount:
        return tool_count();
    default:
        return 0;
    }
}

rt::lresult tooltip_window::add_tool(const uo_tooltip::toolinfo* info)
{
    if (!info || info->cbsize < uo_tooltip::toolinfo_size)
        return 0;
    QWidget* w = rt::window_from_handle(static_cast<rt::handle>(info->hwnd));
    if (!w)
        return 0;
    tool t;
    t.flags = info->uflags;
    t.hwnd = info->hwnd;
    t.uid = info->uid;
    t.rect = QRect(QPoint(info->rc.left, info->rc.top), QPoint(info->rc.right, info->rc.bottom))
                 .adjusted(0, 0, -1, -1); // right and bottom lie outside, as in a Win32 RECT
    if (info->lpsztext)
        t.text = rt::from_ansi(QByteArrayView(info->lpsztext));
    t.widget = w;
    // The window learns from the control itself when the pointer leaves it or it goes away, once
    // however many tools the control has.
    const bool watched = std::any_of(tools_.begin(), tools_.end(),
                                     [w](const tool& other) { return other.widget == w; });
    if (!watched) {
        w->installEventFilter(this);
        // A control that goes away takes its tools, and a tip of theirs on show, along.
        connect(w, &QObject::destroyed, this,
                [this, hwnd = info->hwnd] { remove_tools_of(hwnd, 0, true); });
    }
    tools_.push_back(std::move(t));
    return 1;
}

rt::lresult tooltip_window::change_tool(std::uint32_t msg, const uo_tooltip::toolinfo* info)
{
    if (!info || info->cbsize < uo_tooltip::toolinfo_size)
        return 0;
    tool* t = find_tool(info->hwnd, info->uid);
    if (!t)
        return 0;
    if (msg == rt::ttm_deltool) {
        remove_tools_of(info->hwnd, info->uid, false);
    } else if (msg == rt::ttm_newtoolrect) {
        t->rect =
            QRect(QPoint(info->rc.left, info->rc.top), QPoint(info->rc.right, info->rc.bottom))
                .adjusted(0, 0, -1, -1);
    } else {
        t->text = info->lpsztext ? rt::from_ansi(QByteArrayView(info->lpsztext)) : QString();
        if (shown_ && shown_uid_ == t->uid) {
            text_ = t->text;
            place(*t);
        }
    }
    return 1;
}

void tooltip_window::remove_tools_of(std::int32_t hwnd, std::uint32_t uid, bool every_uid)
{
    if (const tool* on_show = find_uid(shown_ ? shown_uid_ : pending_uid_);
        on_show && on_show->hwnd == hwnd && (every_uid || on_show->uid == uid))
        pop(false);
    std::erase_if(tools_,
                  [&](const tool& t) { return t.hwnd == hwnd && (every_uid || t.uid == uid); });
}

tooltip_window::tool* tooltip_window::find_tool(std::int32_t hwnd, std::uint32_t uid)
{
    for (auto& t : tools_)
        if (t.hwnd == hwnd && t.uid == uid)
            return &t;
    return nullptr;
}

const tooltip_window::tool* tooltip_window::hit(std::int32_t hwnd, QPoint p) const
{
    // The newest tool wins where tools overlap, so that a control registered again with a new
    // text shows that text.
    for (auto it = tools_.rbegin(); it != tools_.rend(); ++it)
        if (it->hwnd == hwnd && it->rect.contains(p))
            return &*it;
    return nullptr;
}

const tooltip_window::tool* tooltip_window::find_uid(std::uint32_t uid) const
{
    for (const auto& t : tools_)
        if (t.uid == uid)
            return &t;
    return nullptr;
}

void tooltip_window::relay(const uo_tooltip::msg* m)
{
    if (!m)
        return;
    if (m->message >= rt::wm_lbuttondown && m->message <= rt::wm_mbuttondblclk) {
        pop(true);
        return;
    }
    if (m->message != rt::wm_mousemove)
        return;
    const QPoint p = rt::unpack_point(m->lparam);
    const tool* t = hit(m->hwnd, p);
    if (!t) {
        pop(false);
        return;
    }
    if (t->widget)
        anchor_ = t->widget->mapToGlobal(p);
    if (t->uid == popped_uid_ || (shown_ && t->uid == shown_uid_))
        return;
    if (pending_uid_ == t->uid && initial_timer_.isActive())
        return;
    // Moving from one tip straight to another tool shows the next one after the short delay; so
    // does reaching it soon after leaving a tip (a real pointer leaves one control before it
    // enters the next).
    const bool reshow =
        shown_ || (left_tip_.isValid() && left_tip_.elapsed() < std::max(initial_ms_, 1));
    if (shown_)
        pop(false);
    popped_uid_ = 0;
    pending_uid_ = t->uid;
    initial_timer_.start(reshow ? reshow_ms_ : initial_ms_);
}

void tooltip_window::set_delay(rt::wparam which, rt::lparam lparam)
{
    // The delay is the low word; -1 restores the default.
    const auto ms = static_cast<std::int16_t>(rt::low_word(static_cast<std::uintptr_t>(lparam)));
    switch (which) {
    case rt::ttdt_automatic: {
        const int initial = ms < 0 ? default_initial_ms : ms;
        initial_ms_ = initial;
        autopop_timer_.setInterval(initial * 10);
        reshow_ms_ = initial / 5;
        break;
    }
    case rt::ttdt_reshow:
        reshow_ms_ = ms < 0 ? default_reshow_ms : ms;
        break;
    case rt::ttdt_autopop:
        autopop_timer_.setInterval(ms < 0 ? default_autopop_ms : ms);
        break;
    case rt::ttdt_initial:
        initial_ms_ = ms < 0 ? default_initial_ms : ms;
        break;
    default:
        break;
    }
}

void tooltip_window::show_pending()
{
    const tool* t = find_uid(pending_uid_);
    pending_uid_ = 0;
    if (!t || !t->widget || !t->widget->isVisible() || t->text.isEmpty())
        return;
    shown_uid_ = t->uid;
    text_ = t->text;
    place(*t);
    show();
    raise();
    shown_ = true;
    autopop_timer_.start();
    emit tip_shown(t->uid);
}

void tooltip_window::pop(bool keep_popped)
{
    initial_timer_.stop();
    pending_uid_ = 0;
    const bool was_shown = shown_;
    popped_uid_ = keep_popped ? shown_uid_ : 0;
    if (!was_shown)
        return;
    if (keep_popped)
        left_tip_.invalidate();
    else
        left_tip_.start();
    autopop_timer_.stop();
    shown_ = false;
    hide();
    emit tip_hidden();
}

namespace {

constexpr int normal_padding_x = 4;
constexpr int normal_padding_y = 2;
constexpr int balloon_padding = 10;
constexpr int balloon_radius = 8;
constexpr int stem_height = 14;
constexpr int stem_width = 16;
constexpr int stem_offset = 18; // from the bubble's left edge to the stem's tip

// The outline of a balloon of `size` whose stem's tip is `stem_x` from its left edge: the stem
// leans to the right of its tip, or to the left where the bubble has no room for that.
QPainterPath balloon_path(QSize size, bool stem_up, int stem_x)
{
    const int w = size.width();
    const int body_top = stem_up ? stem_height : 0;
    const int body_bottom = stem_up ? size.height() : size.height() - stem_height;
    QPainterPath body;
    body.addRoundedRect(QRectF(0.5, body_top + 0.5, w - 1, body_bottom - body_top - 1),
                        balloon_radius, balloon_radius);
    const int base_x =
        stem_x + stem_width <= w - balloon_radius ? stem_x + stem_width : stem_x - stem_width;
    const qreal tip_y = stem_up ? 0.5 : size.height() - 0.5;
    const qreal base_y = stem_up ? body_top + 2 : body_bottom - 2;
    QPainterPath stem;
    stem.moveTo(stem_x, tip_y);
    stem.lineTo(stem_x, base_y);
    stem.lineTo(base_x, base_y);
    stem.closeSubpath();
    return body.united(stem).simplified();
}

} // namespace

void tooltip_window::place(const tool& t)
{
    const QFontMetrics fm(font());
    const QSize text_size = fm.size(Qt::TextSingleLine, text_);
    QScreen* screen = t.widget ? t.widget->screen() : QGuiApplication::primaryScreen();
    const QRect avail = screen ? screen->availableGeometry() : QRect(0, 0, 1 << 14, 1 << 14);
    QSize size;
    QPoint pos;
    if (balloon_) {
        size = text_size + QSize(2 * balloon_padding, 2 * balloon_padding + stem_height);
        size.setWidth(std::max(size.width(), stem_offset + stem_width + balloon_radius));
        // The stem's tip touches the pointer; the bubble hangs below it unless the screen ends.
        stem_up_ = anchor_.y() + size.height() <= avail.bottom();
        pos =
            QPoint(anchor_.x() - stem_offset, stem_up_ ? anchor_.y() : anchor_.y() - size.height());
    } else {
        size = text_size + QSize(2 * normal_padding_x + 2, 2 * normal_padding_y + 2);
        // Below the pointer's arrow, as the system places tips; above it near the screen's end.
        pos = anchor_ + QPoint(0, 20);
        if (pos.y() + size.height() > avail.bottom())
            pos.setY(anchor_.y() - size.height() - 2);
    }
    if (t.flags & rt::ttf_centertip && t.widget) {
        const QRect r(t.widget->mapToGlobal(t.rect.topLeft()), t.rect.size());
        pos.setX(r.center().x() - size.width() / 2);
    }
    pos.setX(
        std::clamp(pos.x(), avail.left(), std::max(avail.left(), avail.right() - size.width())));
    // Moved away from a screen's edge, the bubble keeps its stem on the pointer.
    stem_x_ = std::clamp(anchor_.x() - pos.x(), 1, std::max(1, size.width() - 2));
    resize(size);
    move(pos);
    if (balloon_) {
        // The window's shape takes in the outline's antialiased edge as well.
        QPainterPathStroker edge;
        edge.setWidth(3);
        const QPainterPath path = balloon_path(size, stem_up_, stem_x_);
        setMask(QRegion(edge.createStroke(path).united(path).toFillPolygon().toPolygon()));
    } else {
        clearMask();
    }
    update();
}

void tooltip_window::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QColor border(0x76, 0x76, 0x76);
    const QColor ink(0x57, 0x57, 0x57);
    const Qt::LayoutDirection dir = Qt::LeftToRight;
    if (!balloon_) {
        p.fillRect(rect(), QColor(0xff, 0xff, 0xe1));
        p.setPen(border);
        p.drawRect(rect().adjusted(0, 0, -1, -1));
        p.setPen(Qt::black);
        p.drawText(rect().adjusted(normal_padding_x + 1, normal_padding_y + 1,
                                   -normal_padding_x - 1, -normal_padding_y - 1),
                   Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text_);
        return;
    }
    p.setRenderHint(QPainter::Antialiasing);
    const QPainterPath path = balloon_path(size(), stem_up_, stem_x_);
    QLinearGradient fill(0, 0, 0, height());
    fill.setColorAt(0, Qt::white);
    fill.setColorAt(1, QColor(0xe4, 0xe5, 0xf0));
    p.setPen(QPen(border, 1));
    p.setBrush(fill);
    p.drawPath(path);
    const int top = stem_up_ ? stem_height : 0;
    const QRect text_rect(balloon_padding, top + balloon_padding, width() - 2 * balloon_padding,
                          height() - stem_height - 2 * balloon_padding);
    p.setPen(ink);
    p.setLayoutDirection(dir);
    p.drawText(text_rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text_);
}

bool tooltip_window::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Leave:
    case QEvent::Hide:
    case QEvent::MouseButtonPress:
    case QEvent::Wheel:
    case QEvent::KeyPress:
        // The pointer passing onto the tip itself does not leave the tool.
        if (event->type() == QEvent::Leave && isVisible() && geometry().contains(QCursor::pos()))
            break;
        if (const tool* t = find_uid(shown_ ? shown_uid_ : pending_uid_); t && t->widget == watched)
            pop(event->type() != QEvent::Leave && event->type() != QEvent::Hide);
        if (event->type() == QEvent::Leave) {
            // Leaving the control ends the wait of a timed-out tip too.
            for (const auto& t : tools_)
                if (t.uid == popped_uid_ && t.widget == watched)
                    popped_uid_ = 0;
        }
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace lumora::detail
