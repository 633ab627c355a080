#pragma once

#include <lumora/lumora_export.h>

#include <QString>

#include <cstdint>

namespace lumora {

class menu;

/// The menu service: the text of a shown menu item by handle, and the search of a menu tree
/// for an item by its caption. The object keeps no state.
class LUMORA_EXPORT n_cst_menu {
public:
    static constexpr std::int32_t mf_bycommand = 0;
    static constexpr std::int32_t mf_byposition = 0x400;
    static constexpr std::int32_t mf_sysmenu = 0x2000;

    /// The text of an item of the shown menu `hmenu` (see menu::handle()): by command
    /// identifier (mf_bycommand, searching submenus too) or by 0-based position
    /// (mf_byposition). The text is written into `lpstring` as into a buffer of `nmaxcount`
    /// characters of the ANSI code page (at most `nmaxcount` - 1 bytes of it, never half a
    /// character) and read back; the result is the number of bytes copied. Returns 0, leaving
    /// `lpstring` as it was, when the menu or the item does not exist; an item without text
    /// gives 0 and an empty `lpstring`. With `nmaxcount` below 1 the result is the text's
    /// length in bytes and `lpstring` is left as it was.
    static std::int32_t getmenustring(std::uint32_t hmenu, std::uint32_t uiditem, QString& lpstring,
                                      std::int32_t nmaxcount, std::uint32_t uflag);

    /// getmenustring() with the same arguments.
    std::int32_t of_getmenustring(std::uint32_t aul_hmenu, std::uint32_t aul_uiditem,
                                  QString& as_lpstring, std::int32_t al_nmaxcount,
                                  std::uint32_t aul_uflag) const;

    /// The first menu in the tree under `am_menu` (itself included, each menu before its
    /// items) whose text equals `as_menutext` exactly, case and "&" markers included; null
    /// when none does or `am_menu` is null.
    menu* of_findmenu(menu* am_menu, const QString& as_menutext) const;
};

} // namespace lumora
