// The status bar control itself: the window procedure that answers its messages, the parts'
// geometry, the drawing, and its place along the bottom of the parent window.

#include "u_statusbar_p.h"

#include <lumora/menu/menu.h>

#include <rt/ui/mouse_messages.h>
#include <rt/ui/units.h>
#include <rt/value/codepage.h>

#include <QHelpEvent>
#include <QLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QSizeGrip>
#include <QToolTip>
#include <qdrawutil.h>

#include <algorithm>
#include <cstring>

namespace lumora {

namespace {

constexpr std::int32_t horizontal_border = 0;
constexpr std::int32_t vertical_border = 2;
constexpr std::int32_t separator_width = 2;
const char* const menu_property = "lumora_menu";

QString from_message_text(rt::lparam l)
{
    const char* text = rt::lparam_to<const char>(l);
    return text == nullptr ? QString() : rt::from_ansi(QByteArrayView(text, std::strlen(text)));
}

QColor color_of(rt::colorref c)
{
    return QColor(static_cast<int>(c & 0xff), static_cast<int>((c >> 8) & 0xff),
                  static_cast<int>((c >> 16) & 0xff));
}

} // namespace

rt::lresult u_statusbar::Private::window_proc(std::uint32_t message, rt::wparam w, rt::lparam l)
{
    switch (message) {
    case sb_settext: {
        // The part in the low byte, the style in the next; more is no part and style at all (a
        // negative sum).
        part* p = w > 0xffff ? nullptr : part_at(w & 0xff);
        if (p == nullptr)
            return 0;
        p->type = static_cast<std::uint16_t>(w & 0xff00);
        if (p->type & sbt_ownerdraw) {
            p->data = static_cast<quintptr>(l);
            p->text.clear();
        } else {
            p->data = 0;
            p->text = from_message_text(l);
            p->text.truncate(rt::ansi_cut_length(p->text, max_text_bytes));
        }
        q->update();
        return 1;
    }
    case sb_gettext:
    case sb_gettextlength: {
        const part* p = part_at(w);
        if (p == nullptr)
            return 0;
        const QByteArray text = rt::to_ansi(p->text);
        if (message == sb_gettext && l != 0) {
            char* buffer = rt::lparam_to<char>(l);
            std::memcpy(buffer, text.constData(), static_cast<std::size_t>(text.size()));
            buffer[text.size()] = '\0';
        }
        if (message == sb_gettext && (p->type & sbt_ownerdraw))
            return static_cast<rt::lresult>(p->data);
        return rt::make_long(static_cast<std::uint16_t>(text.size()), p->type);
    }
    case sb_setparts: {
        const auto* edges = rt::lparam_to<const std::int32_t>(l);
        if (w == 0 || w > static_cast<rt::wparam>(max_parts) || edges == nullptr)
            return 0;
        parts.resize(w);
        for (std::size_t i = 0; i < w; ++i)
            parts[i].edge = edges[i];
        q->update();
        return 1;
    }
    case sb_getparts: {
        auto* edges = rt::lparam_to<std::int32_t>(l);
        if (edges != nullptr)
            for (std::size_t i = 0; i < std::min<std::size_t>(w, parts.size()); ++i)
                edges[i] = parts[i].edge;
        return static_cast<rt::lresult>(parts.size());
    }
    case sb_getborders: {
        auto* widths = rt::lparam_to<std::int32_t>(l);
        if (widths == nullptr)
            return 0;
        widths[0] = horizontal_border;
        widths[1] = vertical_border;
        widths[2] = separator_width;
        return 1;
    }
    case sb_setminheight:
        min_height = static_cast<int>(std::min<rt::wparam>(w, 1000));
        return 0; // takes effect at the next layout (ue_refresh)
    case sb_simple:
        simple = w != 0;
        q->update();
        return 1;
    case sb_issimple:
        return simple ? 1 : 0;
    case sb_getrect: {
        auto* r = rt::lparam_to<rt::rect32>(l);
        if (r == nullptr || w >= parts.size())
            return 0;
        *r = part_rect(w);
        return 1;
    }
    case sb_seticon:
    case sb_geticon: {
        // -1 addresses the simple mode's part.
        part* p = static_cast<std::int32_t>(w) == -1 ? &simple_part
                  : w < parts.size()                 ? &parts[w]
                                                     : nullptr;
        if (p == nullptr)
            return 0;
        if (message == sb_geticon)
            return static_cast<rt::lresult>(p->icon);
        p->icon = static_cast<rt::handle>(l);
        q->update();
        return 1;
    }
    case sb_settiptext:
        if (part* p = w < parts.size() ? &parts[w] : nullptr) {
            p->tip = from_message_text(l);
            return 1;
        }
        return 0;
    case sb_gettiptext: {
        const std::size_t index = rt::low_word(w);
        const std::size_t size = rt::high_word(w);
        char* buffer = rt::lparam_to<char>(l);
        if (index >= parts.size() || buffer == nullptr || size == 0)
            return 0;
        const QByteArray tip = rt::to_ansi_cut(parts[index].tip, size - 1);
        std::memcpy(buffer, tip.constData(), static_cast<std::size_t>(tip.size()));
        buffer[tip.size()] = '\0';
        return 0;
    }
    case sb_setbkcolor: {
        const rt::colorref previous = background;
        background = static_cast<rt::colorref>(l);
        q->update();
        return static_cast<rt::lresult>(previous);
    }
    default:
        return 0;
    }
}

// The part a message addresses: the simple part for sb_simpleid, null when none.
u_statusbar::Private::part* u_statusbar::Private::part_at(rt::wparam index)
{
    if (index == static_cast<rt::wparam>(sb_simpleid))
        return &simple_part;
    return index < parts.size() ? &parts[index] : nullptr;
}

int u_statusbar::Private::bar_height() const
{
    const int content = std::max(q->fontMetrics().height(), icon_side) + 4;
    return std::max(content, min_height) + 2 * vertical_border;
}

rt::rect32 u_statusbar::Private::part_rect(std::size_t index) const
{
    const std::int32_t width = q->width();
    rt::rect32 r{horizontal_border, vertical_border, width, q->height()};
    if (simple)
        return r;
    std::int32_t left = horizontal_border;
    for (std::size_t i = 0; i <= index && i < parts.size(); ++i) {
        r.left = left;
        r.right = parts[i].edge == -1 ? width : parts[i].edge;
        // Edges given out of order make empty parts, not reversed ones.
        r.right = std::max(r.right, r.left);
        left = r.right;
    }
    return r;
}

bool u_statusbar::Private::in_layout() const
{
    const QWidget* parent = q->parentWidget();
    return parent != nullptr && parent->layout() != nullptr && parent->layout()->indexOf(q) >= 0;
}

// Along the bottom edge of the parent, its full width, at the bar's own height.
void u_statusbar::Private::place()
{
    QWidget* parent = q->parentWidget();
    if (placing || parent == nullptr || q->isWindow() || in_layout())
        return;
    const int h = bar_height();
    const QRect wanted(0, parent->height() - h, parent->width(), h);
    if (q->geometry() != wanted) {
        placing = true;
        q->setGeometry(wanted);
        placing = false;
    }
}

void u_statusbar::Private::place_grip()
{
    const QSize size = grip->sizeHint();
    grip->setGeometry(q->width() - size.width(), q->height() - size.height(), size.width(),
                      size.height());
}

void u_statusbar::Private::attach()
{
    if (watched_parent)
        watched_parent->removeEventFilter(q);
    if (window)
        window->removeEventFilter(q);
    watched_parent = q->parentWidget();
    window = watched_parent ? watched_parent->window() : nullptr;
    if (watched_parent)
        watched_parent->installEventFilter(q);
    if (window && window != watched_parent)
        window->installEventFilter(q);
    connect_menu();
    place();
}

// Menu highlighting reaches ue_menuselect from the menu shown in the window.
void u_statusbar::Private::connect_menu()
{
    QObject::disconnect(menu_connection);
    if (menu* root = menu::window_menu(window))
        menu_connection =
            QObject::connect(root, &menu::menuselect, q,
                             [this](std::uint16_t item, std::uint16_t flags, std::uint32_t hmenu) {
                                 q->ue_menuselect(item, flags, static_cast<std::int32_t>(hmenu));
                             });
}

void u_statusbar::Private::draw_part(QPainter& painter, const rt::rect32& r, const part& p,
                                     int index, bool last) const
{
    QRect frame(r.left, r.top, r.right - r.left, r.bottom - r.top);
    if (!last)
        frame.setRight(frame.right() - separator_width);
    // The size grip takes the corner; the part's frame stops short of it.
    if (grip->isVisible() && frame.right() >= grip->x())
        frame.setRight(grip->x() - 1);
    if (frame.width() <= 0 || frame.height() <= 0)
        return;
    const QPalette& palette = q->palette();
    if (p.type & sbt_popout)
        qDrawShadePanel(&painter, frame, palette, false, 1);
    else if (!(p.type & sbt_noborders))
        qDrawShadePanel(&painter, frame, palette, true, 1);
    QRect content = frame.adjusted(3, 1, -3, -1);
    if (p.type & sbt_ownerdraw) {
        emit q->drawitem(static_cast<std::int16_t>(index), &painter, content, p.data);
        return;
    }
    const QIcon icon = rt::icon_from_handle(p.icon);
    if (!icon.isNull()) {
        const QRect place(content.left(), content.top() + (content.height() - icon_side) / 2,
                          icon_side, icon_side);
        icon.paint(&painter, place);
        content.setLeft(place.right() + 4);
    }
    if (p.text.isEmpty() || content.width() <= 0)
        return;
    painter.setPen(palette.color(QPalette::WindowText));
    const QStringList pieces = (p.type & sbt_notabparsing)
                                   ? QStringList{p.text}
                                   : p.text.split(QLatin1Char('\t')).mid(0, 3);
    const Qt::Alignment alignments[] = {Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignRight};
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        QTextOption option(alignments[i] | Qt::AlignVCenter);
        option.setWrapMode(QTextOption::NoWrap);
        if (p.type & sbt_rtlreading)
            option.setTextDirection(Qt::RightToLeft);
        const QString shown =
            q->fontMetrics().elidedText(pieces.at(i), Qt::ElideRight, content.width());
        painter.drawText(content, shown, option);
    }
}

QSize u_statusbar::sizeHint() const
{
    return {rt::units_to_pixels_x(1175), d->bar_height()};
}

QSize u_statusbar::minimumSizeHint() const
{
    return {0, d->bar_height()};
}

bool u_statusbar::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::ParentChange:
        d->attach();
        break;
    case QEvent::Show:
        // An ancestor may have been moved into another window since the control was created
        // (a central widget given to a main window): find the window, and its menu, again.
        if (d->watched_parent != parentWidget() ||
            (parentWidget() != nullptr && parentWidget()->window() != d->window))
            d->attach();
        else
            d->place();
        break;
    case QEvent::FontChange:
        d->place();
        break;
    case QEvent::ToolTip: {
        const QPoint pos = static_cast<QHelpEvent*>(event)->pos();
        const std::int16_t part =
            of_getpart(static_cast<std::int16_t>(pos.x()), static_cast<std::int16_t>(pos.y()));
        const QString tip =
            part >= 0 && !d->simple ? d->parts[static_cast<std::size_t>(part)].tip : QString();
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), tip, this);
        return true;
    }
    default:
        break;
    }
    return QWidget::event(event);
}

bool u_statusbar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == d->watched_parent && event->type() == QEvent::Resize)
        d->place();
    else if (watched == d->window && event->type() == QEvent::DynamicPropertyChange &&
             static_cast<QDynamicPropertyChangeEvent*>(event)->propertyName() == menu_property)
        d->connect_menu();
    return QWidget::eventFilter(watched, event);
}

void u_statusbar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), d->background == rt::color_default ? palette().color(QPalette::Window)
                                                                : color_of(d->background));
    if (d->simple) {
        d->draw_part(painter, d->part_rect(0), d->simple_part, sb_simpleid, true);
        return;
    }
    for (std::size_t i = 0; i < d->parts.size(); ++i)
        d->draw_part(painter, d->part_rect(i), d->parts[i], static_cast<int>(i),
                     i + 1 == d->parts.size());
}

void u_statusbar::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    d->place();
    d->place_grip();
    emit size_changed(0, rt::pixels_to_units_x(width()), rt::pixels_to_units_y(height()));
}

void u_statusbar::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    d->place();
}

void u_statusbar::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    doubleclicked(rt::key_flags(event->buttons(), event->modifiers()),
                  rt::pixels_to_units_x(pos.x()), rt::pixels_to_units_y(pos.y()));
}

void u_statusbar::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        const QPoint pos = event->position().toPoint();
        emit rbuttonup(rt::key_flags(event->buttons(), event->modifiers()),
                       rt::pixels_to_units_x(pos.x()), rt::pixels_to_units_y(pos.y()));
    }
    QWidget::mouseReleaseEvent(event);
}

} // namespace lumora
