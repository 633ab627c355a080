#pragma once

#include <lumora/lumora_export.h>

#include <rt/ui/control_messages.h>
#include <rt/value/decimal.h>

#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class QPainter;

namespace lumora {

class n_tmg;

/// A status bar for the bottom of a window: parts (panes) with texts, icons and drawing styles,
/// a simple (single-pane) mode, a background colour, geometry queries and hit testing, and a
/// size grip. It lays itself out along the bottom edge of its parent whatever geometry it is
/// given; in a layout, the layout places it (on a QMainWindow, put it in the central widget's
/// layout so that it does not cover the central widget).
///
/// It shows the micro-help of the highlighted item of its window's menu (lumora::menu shown
/// with menu::show_in()) in part 0, and the credits line when the menu closes. With the timer
/// switched on at construction it emits ue_timer() once a second.
///
/// Every function sends the status bar's window message to the control's handle
/// (il_hstatusbar(), rt::send_message()), so hosts may also send those messages themselves.
/// Part indexes count from 0; coordinates are pixels in the control, except the layout units
/// of doubleclicked().
///
/// \code
/// auto* bar = new lumora::u_statusbar(&window, true);
/// bar->of_setparts({200, 400, -1});
/// bar->of_settext(1, QStringLiteral("就绪"));
/// QObject::connect(bar, &lumora::u_statusbar::ue_timer, bar, [bar] {
///     bar->of_settext(2, QTime::currentTime().toString());
/// });
/// \endcode
class LUMORA_EXPORT u_statusbar : public QWidget {
    Q_OBJECT

public:
    /// Drawing styles, added to the part index in of_settext().
    static constexpr std::int16_t sbt_noborders = rt::sbt_noborders;
    static constexpr std::int16_t sbt_popout = rt::sbt_popout;
    static constexpr std::int16_t sbt_rtlreading = rt::sbt_rtlreading;
    static constexpr std::int16_t sbt_notabparsing = rt::sbt_notabparsing;
    static constexpr std::int16_t sbt_ownerdraw = rt::sbt_ownerdraw;

    /// The status bar's window messages.
    static constexpr std::uint32_t wm_notify = rt::wm_notify;
    static constexpr std::uint32_t wm_user = rt::wm_user;
    static constexpr std::uint32_t sb_settext = rt::sb_settext;
    static constexpr std::uint32_t sb_gettext = rt::sb_gettext;
    static constexpr std::uint32_t sb_gettextlength = rt::sb_gettextlength;
    static constexpr std::uint32_t sb_setparts = rt::sb_setparts;
    static constexpr std::uint32_t sb_getparts = rt::sb_getparts;
    static constexpr std::uint32_t sb_getborders = rt::sb_getborders;
    static constexpr std::uint32_t sb_setminheight = rt::sb_setminheight;
    static constexpr std::uint32_t sb_simple = rt::sb_simple;
    static constexpr std::uint32_t sb_getrect = rt::sb_getrect;
    static constexpr std::uint32_t sb_issimple = rt::sb_issimple;
    static constexpr std::uint32_t sb_seticon = rt::sb_seticon;
    static constexpr std::uint32_t sb_settiptext = rt::sb_settiptext;
    static constexpr std::uint32_t sb_gettiptext = rt::sb_gettiptext;
    static constexpr std::uint32_t sb_geticon = rt::sb_geticon;
    static constexpr std::uint32_t sb_setbkcolor = rt::sb_setbkcolor;
    /// The default colour of the control.
    static constexpr std::uint32_t clr_default = rt::color_default;

    /// The part index that addresses the text of the simple mode.
    static constexpr std::int16_t sb_simpleid = rt::sb_simpleid;
    /// The most parts a status bar has.
    static constexpr int max_parts = 256;
    /// The longest part text in bytes of the ANSI code page; longer texts are cut (at a whole
    /// character).
    static constexpr int max_text_bytes = 32767;

    /// A status bar on `parent` with one part spanning its width. With `ab_usetimer` it creates
    /// its timer (inv_timer()) and registers ue_timer() with it, once a second.
    explicit u_statusbar(QWidget* parent = nullptr, bool ab_usetimer = false);
    ~u_statusbar() override;

    /// The control's window handle, the target of its messages.
    std::int32_t il_hstatusbar() const;
    /// The window the control sits on (its parent's top-level window); null without parent.
    QWidget* iw_parent() const;
    /// Whether the timer was switched on at construction.
    bool ib_usetimer() const;
    /// The timer; null unless switched on at construction.
    n_tmg* inv_timer() const;

    /// The credits line shown in part 0 when no menu item is highlighted (set when the library
    /// is built).
    static QString credits_line();

    /// Sets the text of part `ai_part` with drawing style `ai_style` (sbt_ values); true when
    /// the part exists. The part sb_simpleid (or -1, as for of_seticon()) holds the text of the
    /// simple mode. A part outside -1 … 255, or a style with bits below sbt_noborders, is refused
    /// (false, nothing changes).
    bool of_settext(std::int16_t ai_part, std::int16_t ai_style, const QString& as_text);
    bool of_settext(std::int16_t ai_part, const QString& as_text);
    /// The whole text of a part, however long (-1: the simple mode's). A part that does not exist
    /// leaves the reading buffer as it was preset: 255 blanks. An owner-drawn part has no text
    /// ("").
    QString of_gettext(std::int16_t ai_part);
    /// The length of a part's text in bytes of the ANSI code page.
    std::int16_t of_gettextlength(std::int32_t al_part);

    /// Sets the parts by their right edges in pixels (-1: up to the right border); false for an
    /// empty list or more than max_parts. Texts and icons of the parts kept stay.
    bool of_setparts(const std::vector<std::int32_t>& al_parts);
    /// The number of parts; their right edges are written to the first entries of `al_parts`
    /// (which grows to hold them; entries after them stay as they were).
    std::int32_t of_getparts(std::vector<std::int32_t>& al_parts);
    /// The border widths: horizontal, vertical and between parts. True on success.
    bool of_getborders(std::int32_t& al_horizontalwidth, std::int32_t& al_verticalwidth,
                       std::int32_t& al_seperatorwidth);

    /// Switches the simple (single-part) mode on or off (null: off); true on success.
    bool of_setsimple(std::optional<bool> ab_simple);
    /// Whether the simple mode is on.
    bool of_issimple();

    /// The rectangle of a part in pixels of the control; false (and nothing written) for a part
    /// that does not exist. Right and bottom are the first column and row outside.
    bool of_getrect(std::int32_t al_part, std::int32_t& al_top, std::int32_t& al_left,
                    std::int32_t& al_right, std::int32_t& al_bottom);

    /// Shows the icon `al_icon` (an icon handle, see of_loadicon(); 0 removes it) at the left
    /// of a part; -1 addresses the simple mode. True when the part exists.
    bool of_seticon(std::int16_t ai_part, std::int32_t al_icon);
    /// The icon handle of a part; 0 when it has none.
    std::int32_t of_geticon(std::int16_t ai_part);
    /// Loads a 16 by 16 icon from a file (.ico, .png, …); its handle, or 0 when the file cannot
    /// be read. Loading a file that is loaded already (same file, unchanged since) gives the same
    /// handle again and counts one more load. The icon stays loaded until of_releaseicon() has
    /// been called once for every load.
    static std::uint32_t of_loadicon(const QString& as_filename);
    /// Gives back one load of an icon of of_loadicon(); the last one releases the icon, and parts
    /// that still show it show none. False for a handle of_loadicon() did not give or that was
    /// released already.
    static bool of_releaseicon(std::uint32_t al_icon);

    /// Sets the background colour (red in the low byte; clr_default for the default) and
    /// returns the previous one.
    std::uint32_t of_setbackgroundcolor(std::uint32_t aul_color);

    /// The part at a point (pixels of the control); -1 when none. A point on the edge shared by
    /// two parts belongs to the lower-numbered one.
    std::int16_t of_getpart(std::int16_t ai_xpos, std::int16_t ai_ypos);

    /// A refresh interval for callers to store and read back (the control does not use it).
    /// Returns 1, or -1 for null (the value stays). Initially 1.
    std::int16_t of_setrefreshinterval(std::optional<rt::decimal> adc_refreshinterval);
    rt::decimal of_getrefreshinterval() const;

public slots:
    /// Lays the control out again along the bottom of its parent, then emits
    /// ue_refreshstatusbar() for every part.
    void ue_refresh();
    /// The window's menu-selection notification: the highlighted item's micro-help in part 0;
    /// the credits line when the menu closed (item 0, menu 0) or a system-menu item is
    /// highlighted. An item whose text cannot be read leaves part 0 as it is. Returns 0.
    std::int32_t ue_menuselect(std::uint16_t aui_itemid, std::uint16_t aui_flags,
                               std::int32_t al_hmenu);
    /// A double click at `xpos`, `ypos` (layout units): emits ue_doubleclicked() with the part
    /// hit, if any.
    void doubleclicked(std::uint32_t flags, int xpos, int ypos);

signals:
    /// Emitted by ue_refresh() for each part, for the window to fill it in.
    void ue_refreshstatusbar(std::int16_t ai_part);
    /// Once a second while the timer is on.
    void ue_timer();
    /// A part was double-clicked.
    void ue_doubleclicked(std::int16_t ai_part);
    /// The right mouse button was released over the control (positions in layout units).
    void rbuttonup(std::uint32_t flags, int xpos, int ypos);
    /// The control changed size (sizes in layout units).
    void size_changed(std::uint32_t sizetype, int newwidth, int newheight);
    /// Paints an owner-drawn part (style sbt_ownerdraw) into `rect`; `data` is the value given
    /// with its text (through of_settext(): the address of the zero-terminated text in the ANSI
    /// code page, valid while the part shows it). Connect directly.
    void drawitem(std::int16_t part, QPainter* painter, const QRect& rect, quintptr data);

public:
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    struct Private;
    std::unique_ptr<Private> const d;
};

} // namespace lumora
