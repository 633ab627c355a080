#pragma once

#include <rt/ui/handles.h>

#include <cstdint>

class QAction;

namespace rt {

/// Menus of the platform on Qt's menus: a menu handle (register_menu()) names a QMenu or a
/// QMenuBar, its items are the widget's visible actions, and each item carries a command
/// identifier.

/// Flags of menu look-ups and of the menu-selection notification, the platform's values.
constexpr std::uint32_t mf_bycommand = 0x0000;
constexpr std::uint32_t mf_grayed = 0x0001;
constexpr std::uint32_t mf_disabled = 0x0002;
constexpr std::uint32_t mf_checked = 0x0008;
constexpr std::uint32_t mf_popup = 0x0010;
constexpr std::uint32_t mf_hilite = 0x0080;
constexpr std::uint32_t mf_byposition = 0x0400;
constexpr std::uint32_t mf_sysmenu = 0x2000;
/// The flags of the notification sent when the menu closes (with item 0 and menu handle 0).
constexpr std::uint32_t mf_menu_closed = 0xffff;

/// Gives a menu item its command identifier (0 removes it).
void set_menu_item_id(QAction* item, std::uint32_t id);
/// The command identifier of a menu item; 0 when it has none.
std::uint32_t menu_item_id(const QAction* item);

/// The text of a menu item, accelerator markers ("&") included, in the ANSI code page.
///
/// With mf_byposition in `flags`, `item` is the 0-based position among the items of `hmenu`;
/// otherwise it is a command identifier, searched in `hmenu` and its submenus depth first.
/// When `buffer` is null or `max_count` is less than 1 the result is the text's length in bytes
/// and nothing is written; otherwise at most `max_count` - 1 bytes of the text (never half a
/// character) are copied with a terminating zero, and the result is the number of bytes copied.
/// Returns 0, without writing, when `hmenu` names no menu or the item does not exist; an item
/// without text (a separator) writes an empty text and returns 0.
std::int32_t get_menu_string(handle hmenu, std::uint32_t item, char* buffer, std::int32_t max_count,
                             std::uint32_t flags);

} // namespace rt
