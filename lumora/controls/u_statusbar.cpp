// The status bar's client side: every of_* function sends the control's window message to its
// handle, as a host may do itself; the menu micro-help and the timer.

#include "u_statusbar_p.h"

#include <lumora/menu/menu.h>
#include <lumora/menu/n_cst_menu.h>
#include <lumora/numeric/n_cst_numerical.h>
#include <lumora/timing/n_cst_tmgsingle.h>
#include <lumora/timing/n_tmg.h>

#include <lumora_credits_p.h>

#include <rt/ui/menus.h>
#include <rt/ui/units.h>
#include <rt/value/codepage.h>

#include <QDateTime>
#include <QFileInfo>
#include <QLayout>
#include <QSizeGrip>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <utility>

namespace lumora {

namespace {

// The part a message carries for a part index of the interface: -1 names the simple mode's part,
// as sb_simpleid does; none for an index the bar cannot have.
std::optional<int> message_part(std::int32_t part)
{
    if (part == -1)
        return int{u_statusbar::sb_simpleid}; // a copy: the constant itself is not exported
    if (part < 0 || part > u_statusbar::sb_simpleid)
        return std::nullopt;
    return part;
}

} // namespace

u_statusbar::u_statusbar(QWidget* parent, bool ab_usetimer)
    : QWidget(parent), d(std::make_unique<Private>(this))
{
    setObjectName(QStringLiteral("u_statusbar"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAutoFillBackground(false);
    d->grip = new QSizeGrip(this);
    d->grip->setObjectName(QStringLiteral("size_grip"));
    resize(rt::units_to_pixels_x(1175), rt::units_to_pixels_y(84));

    d->hwnd = rt::register_window(this, d.get());
    of_setbackgroundcolor(clr_default);
    d->attach();
    d->use_timer = ab_usetimer;
    if (ab_usetimer) {
        d->timer = new n_tmg(this);
        d->timer->of_setsingle(true);
        if (n_cst_tmgsingle* single = d->timer->inv_single())
            single->of_register(this, QStringLiteral("ue_timer"), 1.0f);
    }
}

u_statusbar::~u_statusbar()
{
    // No message may reach the window procedure once its state starts to go.
    rt::unregister_handle(d->hwnd);
    QObject::disconnect(d->menu_connection);
}

std::int32_t u_statusbar::il_hstatusbar() const
{
    return static_cast<std::int32_t>(d->hwnd);
}

QWidget* u_statusbar::iw_parent() const
{
    return d->window.data();
}

bool u_statusbar::ib_usetimer() const
{
    return d->use_timer;
}

n_tmg* u_statusbar::inv_timer() const
{
    return d->timer;
}

QString u_statusbar::credits_line()
{
    return QStringLiteral(LUMORA_CREDITS_LINE);
}

bool u_statusbar::of_settext(std::int16_t ai_part, std::int16_t ai_style, const QString& as_text)
{
    // Part and style travel together in one parameter, the part in the low byte and the style in
    // the next: a part the bar cannot have, or a style reaching into the part's byte, would name
    // another part with other styles (owner-drawn, holding the address of a text that goes).
    const std::optional<int> part = message_part(ai_part);
    if (!part || ai_style < 0 || (ai_style & 0xff) != 0)
        return false;
    const auto w = static_cast<rt::wparam>(*part | ai_style);
    QByteArray text = rt::to_ansi(as_text);
    if (ai_style & sbt_ownerdraw) {
        // The part keeps the address of its text; keep the text while the part shows it.
        QByteArray& kept = d->owner_texts[*part];
        const QByteArray previous = std::exchange(kept, text);
        if (d->send(sb_settext, w, rt::lparam_from(kept.constData())) != 0)
            return true;
        kept = previous;
        return false;
    }
    const bool stored = d->send(sb_settext, w, rt::lparam_from(text.constData())) != 0;
    if (stored)
        d->owner_texts.erase(*part);
    return stored;
}

bool u_statusbar::of_settext(std::int16_t ai_part, const QString& as_text)
{
    return of_settext(ai_part, 0, as_text);
}

QString u_statusbar::of_gettext(std::int16_t ai_part)
{
    // Sized with the text's length first, so a text longer than the 255 blanks comes back
    // whole.
    const std::optional<int> part = message_part(ai_part);
    const std::uint16_t length = part ? rt::low_word(static_cast<std::uintptr_t>(d->send(
                                            sb_gettextlength, static_cast<rt::wparam>(*part), 0)))
                                      : 0;
    QByteArray buffer(std::max<qsizetype>(255, length) + 1, ' ');
    buffer[buffer.size() - 1] = '\0';
    if (part)
        d->send(sb_gettext, static_cast<rt::wparam>(*part), rt::lparam_from(buffer.data()));
    return rt::from_ansi(QByteArrayView(buffer.constData(), std::strlen(buffer.constData())));
}

std::int16_t u_statusbar::of_gettextlength(std::int32_t al_part)
{
    const std::optional<int> part = message_part(al_part);
    if (!part)
        return 0;
    const auto reply =
        static_cast<std::uintptr_t>(d->send(sb_gettextlength, static_cast<rt::wparam>(*part), 0));
    return static_cast<std::int16_t>(rt::low_word(reply));
}

bool u_statusbar::of_setparts(const std::vector<std::int32_t>& al_parts)
{
    if (al_parts.empty())
        return false;
    return d->send(sb_setparts, al_parts.size(), rt::lparam_from(al_parts.data())) != 0;
}

std::int32_t u_statusbar::of_getparts(std::vector<std::int32_t>& al_parts)
{
    std::vector<std::int32_t> buffer(128, 0);
    auto count = static_cast<std::int32_t>(
        d->send(sb_getparts, buffer.size(), rt::lparam_from(buffer.data())));
    if (count > static_cast<std::int32_t>(buffer.size())) {
        // More parts than the first reading holds: read again into a buffer of the full count.
        buffer.assign(static_cast<std::size_t>(count), 0);
        count = static_cast<std::int32_t>(
            d->send(sb_getparts, buffer.size(), rt::lparam_from(buffer.data())));
        count = std::min(count, static_cast<std::int32_t>(buffer.size()));
    }
    if (count >= 1) {
        if (al_parts.size() < static_cast<std::size_t>(count))
            al_parts.resize(static_cast<std::size_t>(count));
        std::copy_n(buffer.begin(), count, al_parts.begin());
    }
    return count;
}

bool u_statusbar::of_getborders(std::int32_t& al_horizontalwidth, std::int32_t& al_verticalwidth,
                                std::int32_t& al_seperatorwidth)
{
    std::int32_t widths[3] = {0, 0, 0};
    if (d->send(sb_getborders, 0, rt::lparam_from(widths)) == 0)
        return false;
    al_horizontalwidth = widths[0];
    al_verticalwidth = widths[1];
    al_seperatorwidth = widths[2];
    return true;
}

bool u_statusbar::of_setsimple(std::optional<bool> ab_simple)
{
    return d->send(sb_simple, ab_simple.value_or(false) ? 1 : 0, 0) > 0;
}

bool u_statusbar::of_issimple()
{
    return d->send(sb_issimple, 0, 0) != 0;
}

bool u_statusbar::of_getrect(std::int32_t al_part, std::int32_t& al_top, std::int32_t& al_left,
                             std::int32_t& al_right, std::int32_t& al_bottom)
{
    rt::rect32 r;
    if (d->send(sb_getrect, static_cast<rt::wparam>(al_part), rt::lparam_from(&r)) == 0)
        return false;
    al_top = r.top;
    al_left = r.left;
    al_right = r.right;
    al_bottom = r.bottom;
    return true;
}

bool u_statusbar::of_seticon(std::int16_t ai_part, std::int32_t al_icon)
{
    return d->send(sb_seticon, static_cast<rt::wparam>(ai_part), al_icon) != 0;
}

std::int32_t u_statusbar::of_geticon(std::int16_t ai_part)
{
    return static_cast<std::int32_t>(d->send(sb_geticon, static_cast<rt::wparam>(ai_part), 0));
}

namespace {

// The icons of of_loadicon(), each once per file as it was when loaded, with its count of loads.
struct loaded_icon {
    QString path;
    QDateTime modified;
    qint64 size = 0;
    int loads = 0;
};

std::map<std::uint32_t, loaded_icon>& loaded_icons()
{
    static std::map<std::uint32_t, loaded_icon> icons;
    return icons;
}

} // namespace

std::uint32_t u_statusbar::of_loadicon(const QString& as_filename)
{
    const QFileInfo file(QString(as_filename).replace(QLatin1Char('\\'), QLatin1Char('/')));
    const QString path = file.canonicalFilePath();
    auto& icons = loaded_icons();
    if (!path.isEmpty())
        for (auto& [handle, icon] : icons)
            if (icon.path == path && icon.modified == file.lastModified() &&
                icon.size == file.size() && rt::kind_of(handle) == rt::handle_kind::icon) {
                ++icon.loads;
                return handle;
            }
    const rt::handle handle = rt::load_icon(as_filename, Private::icon_side, Private::icon_side);
    if (handle != 0)
        icons[handle] = loaded_icon{path, file.lastModified(), file.size(), 1};
    return handle;
}

bool u_statusbar::of_releaseicon(std::uint32_t al_icon)
{
    auto& icons = loaded_icons();
    const auto found = icons.find(al_icon);
    if (found == icons.end())
        return false;
    if (--found->second.loads == 0) {
        icons.erase(found);
        rt::destroy_icon(al_icon);
    }
    return true;
}

std::uint32_t u_statusbar::of_setbackgroundcolor(std::uint32_t aul_color)
{
    return static_cast<std::uint32_t>(d->send(sb_setbkcolor, 0, aul_color));
}

std::int16_t u_statusbar::of_getpart(std::int16_t ai_xpos, std::int16_t ai_ypos)
{
    std::vector<std::int32_t> edges;
    const std::int32_t count = of_getparts(edges);
    for (std::int32_t k = 0; k < count; ++k) {
        std::int32_t top = 0, left = 0, right = 0, bottom = 0;
        if (!of_getrect(k, top, left, right, bottom))
            continue;
        if (left <= ai_xpos && ai_xpos <= right && top <= ai_ypos && ai_ypos <= bottom)
            return static_cast<std::int16_t>(k);
    }
    return -1;
}

std::int16_t u_statusbar::of_setrefreshinterval(std::optional<rt::decimal> adc_refreshinterval)
{
    if (!adc_refreshinterval)
        return -1;
    d->refresh_interval = *adc_refreshinterval;
    return 1;
}

rt::decimal u_statusbar::of_getrefreshinterval() const
{
    return d->refresh_interval;
}

void u_statusbar::ue_refresh()
{
    resize(0, 0);
    if (d->in_layout()) {
        // The layout, not the control, gives the place back.
        updateGeometry();
        parentWidget()->layout()->invalidate();
        parentWidget()->layout()->activate();
    }
    std::vector<std::int32_t> edges;
    const std::int32_t count = of_getparts(edges);
    const QPointer<u_statusbar> self(this);
    for (std::int32_t k = 0; k < count && self; ++k)
        emit ue_refreshstatusbar(static_cast<std::int16_t>(k));
}

std::int32_t u_statusbar::ue_menuselect(std::uint16_t aui_itemid, std::uint16_t aui_flags,
                                        std::int32_t al_hmenu)
{
    if (aui_itemid == 0 && al_hmenu == 0) {
        of_settext(0, 0, credits_line());
        return 0;
    }
    const std::int32_t sysmenu = n_cst_menu::mf_sysmenu;
    if (n_cst_numerical().of_bitwiseand(std::int32_t{aui_flags}, sysmenu) == sysmenu) {
        of_settext(0, 0, credits_line());
        return 0;
    }
    QString text(255, QLatin1Char(' '));
    if (n_cst_menu().of_getmenustring(static_cast<std::uint32_t>(al_hmenu), aui_itemid, text, 255,
                                      n_cst_menu::mf_bycommand) < 1)
        return 0;
    if (menu* root = menu::window_menu(d->window))
        if (const menu* found = n_cst_menu().of_findmenu(root, text))
            // A menu's title mostly has no micro-help: while it opens, the credits line.
            of_settext(0, 0,
                       found->microhelp().isEmpty() && (aui_flags & rt::mf_popup) != 0
                           ? credits_line()
                           : found->microhelp());
    return 0;
}

void u_statusbar::doubleclicked(std::uint32_t flags, int xpos, int ypos)
{
    Q_UNUSED(flags);
    const int x = rt::units_to_pixels_x(xpos);
    const int y = rt::units_to_pixels_y(ypos);
    const std::int16_t part = of_getpart(static_cast<std::int16_t>(std::clamp(x, -32768, 32767)),
                                         static_cast<std::int16_t>(std::clamp(y, -32768, 32767)));
    if (part != -1)
        emit ue_doubleclicked(part);
}

} // namespace lumora
