#pragma once

// The numbers of the window messages the controls answer, and the flags and values those
// messages carry: the platform's own values, so that a host sending them by number reaches the
// same behaviour. Constants only; this header needs nothing but <cstdint> and is installed with
// lumora, whose control classes name the same values.

#include <cstdint>

namespace rt {

// --- messages of every window -------------------------------------------------------------------

constexpr std::uint32_t wm_notify = 0x4e;
constexpr std::uint32_t wm_mousemove = 0x200;
/// The mouse-button messages run from wm_lbuttondown to wm_mbuttondblclk.
constexpr std::uint32_t wm_lbuttondown = 0x201;
constexpr std::uint32_t wm_mbuttondblclk = 0x209;
/// The first message number a control defines for itself.
constexpr std::uint32_t wm_user = 0x400;

/// Key-state flags of a mouse message's wParam.
constexpr std::uint32_t mk_lbutton = 0x1;
constexpr std::uint32_t mk_rbutton = 0x2;
constexpr std::uint32_t mk_shift = 0x4;
constexpr std::uint32_t mk_control = 0x8;
constexpr std::uint32_t mk_mbutton = 0x10;

/// Window creation: the extended style of a window above all others, and "let the system
/// choose" for a position or size.
constexpr std::uint32_t ws_ex_topmost = 0x8;
constexpr std::uint32_t cw_usedefault = 0x80000000u;

/// A colour as messages exchange it: red in the low byte, then green, then blue.
/// color_default (0xff000000) asks for the control's default colour.
using colorref = std::uint32_t;
constexpr colorref color_default = 0xff000000u;

// --- the status bar -----------------------------------------------------------------------------

constexpr std::uint32_t sb_settext = wm_user + 0x01;
constexpr std::uint32_t sb_gettext = wm_user + 0x02;
constexpr std::uint32_t sb_gettextlength = wm_user + 0x03;
constexpr std::uint32_t sb_setparts = wm_user + 0x04;
constexpr std::uint32_t sb_getparts = wm_user + 0x06;
constexpr std::uint32_t sb_getborders = wm_user + 0x07;
constexpr std::uint32_t sb_setminheight = wm_user + 0x08;
constexpr std::uint32_t sb_simple = wm_user + 0x09;
constexpr std::uint32_t sb_getrect = wm_user + 0x0a;
constexpr std::uint32_t sb_issimple = wm_user + 0x0e;
constexpr std::uint32_t sb_seticon = wm_user + 0x0f;
constexpr std::uint32_t sb_settiptext = wm_user + 0x10;
constexpr std::uint32_t sb_gettiptext = wm_user + 0x12;
constexpr std::uint32_t sb_geticon = wm_user + 0x14;
constexpr std::uint32_t sb_setbkcolor = 0x2001;

/// The part index of sb_settext / sb_gettext that addresses the text of the simple mode.
constexpr std::uint32_t sb_simpleid = 255;

/// Drawing styles of a part, added to the part index in sb_settext's wParam.
constexpr std::uint32_t sbt_noborders = 0x100;
constexpr std::uint32_t sbt_popout = 0x200;
constexpr std::uint32_t sbt_rtlreading = 0x400;
constexpr std::uint32_t sbt_notabparsing = 0x800;
constexpr std::uint32_t sbt_ownerdraw = 0x1000;

// --- the tooltip window -------------------------------------------------------------------------

constexpr std::uint32_t ttm_setdelaytime = wm_user + 0x03;
constexpr std::uint32_t ttm_addtool = wm_user + 0x04;
/// Removes the tool that lParam's toolinfo names (its hwnd and uid).
constexpr std::uint32_t ttm_deltool = wm_user + 0x05;
/// Gives the tool that lParam's toolinfo names its rectangle (rc).
constexpr std::uint32_t ttm_newtoolrect = wm_user + 0x06;
constexpr std::uint32_t ttm_relayevent = wm_user + 0x07;
/// Gives the tool that lParam's toolinfo names its text (lpsztext).
constexpr std::uint32_t ttm_updatetiptext = wm_user + 0x0c;
constexpr std::uint32_t ttm_gettoolcount = wm_user + 0x0d;

/// Which delay ttm_setdelaytime sets (its wParam).
constexpr std::uint32_t ttdt_automatic = 0;
constexpr std::uint32_t ttdt_reshow = 1;
constexpr std::uint32_t ttdt_autopop = 2;
constexpr std::uint32_t ttdt_initial = 3;

/// Styles of the tooltip window.
constexpr std::uint32_t tts_noprefix = 0x2;
constexpr std::uint32_t tts_balloon = 0x40;

/// Flags of a tool.
constexpr std::uint32_t ttf_centertip = 0x2;
constexpr std::uint32_t ttf_rtlreading = 0x4;

} // namespace rt
