#pragma once

#include <lumora/lumora_export.h>

#include <rt/ui/control_messages.h>

#include <QObject>

#include <cstdint>
#include <memory>

class QWidget;

namespace lumora {

/// A tooltip service that any number of input controls share.
///
/// The service owns one tooltip window, created by the first controlregister() and destroyed
/// with the service (every tip of every control goes with it). A control that is destroyed
/// takes its tools along. Each registered control becomes a
/// tool of that window, with its own identifier and its client rectangle; the controls then relay
/// their mouse moves through showtip(), and the window shows the tip after the initial delay,
/// hides it when the pointer leaves the tool and pops it after the display time.
///
/// The window talks the tooltip messages (ttm_addtool, ttm_relayevent, …) through the runtime's
/// window-message layer, so a host may also send them to hwndtt() itself.
/// \code
/// lumora::uo_tooltip tips;
/// tips.tipstyle = lumora::uo_tooltip::style_balloontip;
/// tips.controlregister(edit, u"姓名"_s, 0);     // 1
/// tips.controlregister(combo, u"科目"_s, 0);    // 2
/// \endcode
class LUMORA_EXPORT uo_tooltip : public QObject {
    Q_OBJECT

public:
    static constexpr std::int16_t style_normal = 0;
    static constexpr std::int16_t style_balloontip = 1;

    // Tooltip window messages and flags.
    static constexpr std::uint32_t wm_user = rt::wm_user;
    static constexpr std::uint32_t ttm_setdelaytime = rt::ttm_setdelaytime;
    static constexpr std::uint32_t ttm_addtool = rt::ttm_addtool;
    static constexpr std::uint32_t ttm_deltool = rt::ttm_deltool;
    static constexpr std::uint32_t ttm_newtoolrect = rt::ttm_newtoolrect;
    static constexpr std::uint32_t ttm_updatetiptext = rt::ttm_updatetiptext;
    static constexpr std::uint32_t ttm_relayevent = rt::ttm_relayevent;
    static constexpr std::uint32_t ttm_gettoolcount = rt::ttm_gettoolcount;
    static constexpr std::uint32_t ws_ex_topmost = rt::ws_ex_topmost;
    static constexpr std::uint32_t tts_noprefix = rt::tts_noprefix;
    static constexpr std::uint32_t tts_balloon = rt::tts_balloon;
    static constexpr std::uint32_t ttf_centertip = rt::ttf_centertip;
    static constexpr std::uint32_t ttf_rtlreading = rt::ttf_rtlreading;
    static constexpr std::uint32_t wm_mousemove = rt::wm_mousemove;
    static constexpr std::uint32_t cw_usedefault = rt::cw_usedefault;
    /// The size of toolinfo as its cbsize field gives it.
    static constexpr std::uint32_t toolinfo_size = 40;

    /// The longest tip text in bytes of the ANSI code page (a Chinese character takes two); a
    /// terminating zero follows it in the text block.
    static constexpr int tip_text_bytes = 80;

    /// A rectangle in pixels, client coordinates of the tool's control.
    struct rect {
        std::int32_t left = 0;
        std::int32_t top = 0;
        std::int32_t right = 0;
        std::int32_t bottom = 0;
    };

    /// The tool description that ttm_addtool carries in its lParam. Handles are the runtime's
    /// window handles; the text is a zero-terminated string in the ANSI code page, copied by the
    /// tooltip window (the address is pointer-sized, the one field that is not 32-bit).
    struct toolinfo {
        std::uint32_t cbsize = toolinfo_size;
        std::uint32_t uflags = 0;
        std::int32_t hwnd = 0;
        std::uint32_t uid = 0;
        rect rc;
        std::int32_t hinstance = 0;
        const char* lpsztext = nullptr;
    };

    /// A window message as ttm_relayevent carries it in its lParam.
    struct msg {
        std::int32_t hwnd = 0;
        std::uint32_t message = 0;
        std::uint32_t wparam = 0;
        std::int32_t lparam = 0;
        std::uint32_t time = 0;
        std::int32_t pt_x = 0;
        std::int32_t pt_y = 0;
    };

    /// Prepares the service; the tooltip window is not created until the first registration.
    explicit uo_tooltip(QObject* parent = nullptr);
    /// Destroys the tooltip window and with it the tips of every control.
    ~uo_tooltip() override;

    /// Style of the tooltip window when the first registration creates it: style_normal or
    /// style_balloontip. Later changes do not affect a window that exists.
    std::int16_t tipstyle = style_normal;

    /// Adds `controlobject` as a new tool with the text `tip` and the tool flags `flag` (ttf_…),
    /// creating the tooltip window first if there is none. The tip keeps the first 80 characters
    /// of `tip`, cut further to tip_text_bytes bytes of the ANSI code page without splitting a
    /// character. Returns the tool's identifier (1 for the first registration, then 2, 3, …), or
    /// -1 when the window could not be created or refused the tool (a null control, for one); the
    /// identifier is used up either way.
    std::int32_t controlregister(QWidget* controlobject, const QString& tip, std::int16_t flag);

    /// Passes the current mouse move over `controlobject` to the tooltip window. Called from the
    /// control's mouse-move handling, it relays that message's key flags and position; called
    /// elsewhere, it relays the pointer's present position over the control. Nothing happens
    /// before the first registration or for a null control.
    void showtip(QWidget* controlobject);

    /// Handle of the tooltip window; 0 until the first registration creates it.
    std::int32_t hwndtt() const;
    /// The identifier the next registration will use.
    std::int32_t toolid() const;

private:
    struct Private;
    std::unique_ptr<Private> const d;
};

} // namespace lumora
