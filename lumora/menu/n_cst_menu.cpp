#include "n_cst_menu.h"
#include "menu.h"

#include <rt/ui/menus.h>
#include <rt/value/codepage.h>

#include <QByteArray>

#include <algorithm>

namespace lumora {

std::int32_t n_cst_menu::getmenustring(std::uint32_t hmenu, std::uint32_t uiditem,
                                       QString& lpstring, std::int32_t nmaxcount,
                                       std::uint32_t uflag)
{
    if (nmaxcount < 1)
        return rt::get_menu_string(hmenu, uiditem, nullptr, 0, uflag);
    // The text goes to a buffer made from the string, as a by-reference string crosses to an
    // ANSI function; the buffer is never smaller than the count the caller claims.
    const QByteArray given = rt::to_ansi(lpstring);
    QByteArray buffer = given;
    buffer.resize(std::max<qsizetype>(buffer.size(), nmaxcount) + 1, '\0');
    const std::int32_t copied =
        rt::get_menu_string(hmenu, uiditem, buffer.data(), nmaxcount, uflag);
    const QByteArray read_back = QByteArray(buffer.constData()); // up to the terminating zero
    if (read_back != given)
        lpstring = rt::from_ansi(read_back);
    return copied;
}

std::int32_t n_cst_menu::of_getmenustring(std::uint32_t aul_hmenu, std::uint32_t aul_uiditem,
                                          QString& as_lpstring, std::int32_t al_nmaxcount,
                                          std::uint32_t aul_uflag) const
{
    return getmenustring(aul_hmenu, aul_uiditem, as_lpstring, al_nmaxcount, aul_uflag);
}

menu* n_cst_menu::of_findmenu(menu* am_menu, const QString& as_menutext) const
{
    if (am_menu == nullptr)
        return nullptr;
    if (am_menu->text() == as_menutext)
        return am_menu;
    for (menu* item : am_menu->items())
        if (menu* found = of_findmenu(item, as_menutext))
            return found;
    return nullptr;
}

} // namespace lumora
