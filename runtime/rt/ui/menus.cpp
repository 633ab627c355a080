#include <rt/ui/menus.h>
#include <rt/value/codepage.h>

#include <QAction>
#include <QMenu>
#include <QWidget>

#include <cstring>

namespace rt {

namespace {

const char* const id_property = "rt_menu_item_id";

QList<QAction*> visible_items(const QObject* menu)
{
    QList<QAction*> items;
    if (const auto* widget = qobject_cast<const QWidget*>(menu))
        for (QAction* a : widget->actions())
            if (a->isVisible())
                items.append(a);
    return items;
}

const QAction* find_by_command(const QObject* menu, std::uint32_t id, int depth)
{
    // Menus nest a handful of levels; the bound only guards against a menu that contains
    // itself.
    if (depth > 64)
        return nullptr;
    for (const QAction* a : visible_items(menu)) {
        if (!a->isSeparator() && menu_item_id(a) == id)
            return a;
        if (a->menu() != nullptr)
            if (const QAction* found = find_by_command(a->menu(), id, depth + 1))
                return found;
    }
    return nullptr;
}

} // namespace

void set_menu_item_id(QAction* item, std::uint32_t id)
{
    if (item != nullptr)
        item->setProperty(id_property, id == 0 ? QVariant() : QVariant(id));
}

std::uint32_t menu_item_id(const QAction* item)
{
    return item == nullptr ? 0 : item->property(id_property).toUInt();
}

std::int32_t get_menu_string(handle hmenu, std::uint32_t item, char* buffer, std::int32_t max_count,
                             std::uint32_t flags)
{
    const QObject* menu = menu_from_handle(hmenu);
    if (menu == nullptr)
        return 0;
    const QAction* found = nullptr;
    if ((flags & mf_byposition) != 0) {
        const QList<QAction*> items = visible_items(menu);
        if (item < static_cast<std::uint32_t>(items.size()))
            found = items.at(static_cast<qsizetype>(item));
    } else {
        found = find_by_command(menu, item, 0);
    }
    if (found == nullptr)
        return 0;
    const QString text = found->isSeparator() ? QString() : found->text();
    if (buffer == nullptr || max_count < 1)
        return static_cast<std::int32_t>(to_ansi(text).size());
    // Whole characters only, so the copy never ends in half a double-byte character.
    const QByteArray copied = to_ansi_cut(text, max_count - 1);
    std::memcpy(buffer, copied.constData(), static_cast<std::size_t>(copied.size()));
    buffer[copied.size()] = '\0';
    return static_cast<std::int32_t>(copied.size());
}

} // namespace rt
