#pragma once

#include <lumora/lumora_export.h>

#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

class QMenuBar;
class QWidget;

namespace lumora {

/// A menu of the application: a caption (with its "&" accelerator marker, as shown), a
/// micro-help text for the status bar, a command identifier and an ordered list of items,
/// which are menus themselves. An item with items opens a submenu; an item whose text is "-"
/// is a separator.
///
/// The root of a tree is the menu of a window: show_in() presents its items as the window's Qt
/// menu bar. While the tree is shown, highlighting in the Qt menus is reported by the root's
/// menuselect() signal, as the platform's menu-selection notification, and choosing an item
/// emits that item's clicked().
///
/// \code
/// auto* root = new lumora::menu;
/// lumora::menu* file = root->add_item(QStringLiteral("文件(&F)"));
/// file->add_item(QStringLiteral("打开(&O)"), QStringLiteral("打开一个考务文件"));
/// root->show_in(&main_window); // the window's menu bar, owned by the tree
/// \endcode
///
/// Items are owned by their parent menu. A tree is shown in one window at a time.
class LUMORA_EXPORT menu : public QObject {
    Q_OBJECT

public:
    /// A menu with its caption and micro-help; the parent menu, when given, owns it and lists
    /// it as its last item.
    explicit menu(const QString& text = QString(), const QString& microhelp = QString(),
                  menu* parent_menu = nullptr);
    /// Removes the menu from its parent's items and, for a shown root, removes the menu bar.
    ~menu() override;

    /// The caption, "&" markers included.
    QString text() const;
    void set_text(const QString& text);

    /// The help text shown in the status bar while the item is highlighted.
    QString microhelp() const;
    void set_microhelp(const QString& microhelp);

    /// The command identifier: given at creation, unique among the menus alive (1 … 65535).
    std::uint16_t id() const;

    /// Whether the item can be chosen (default true).
    bool enabled() const;
    void set_enabled(bool enabled);

    /// Whether the item shows a check mark (default false).
    bool checked() const;
    void set_checked(bool checked);

    /// Appends a new item and returns it (owned by this menu).
    menu* add_item(const QString& text, const QString& microhelp = QString());
    /// The items in order (0-based here; the runtime's arrays count from 1).
    QList<menu*> items() const;
    /// The number of items.
    int item_count() const;
    /// The menu this one is an item of; null for a root.
    menu* parent_menu() const;

    /// Shows the items of this menu as the menu bar of `window`, replacing a menu bar shown
    /// before by this tree: the window's own menu bar for a QMainWindow, the layout's menu bar
    /// when the window has a layout, else a bar along the window's top. Changes to the tree
    /// show at once and change only the items concerned: an open menu stays open, and handles
    /// stay as they were, except the submenu handle of an item that gains its first item or
    /// loses its last. A menu that closes because of a change, or because the tree is shown
    /// again, is reported closed (menuselect()). Returns the bar, owned by the window and
    /// removed with the tree.
    QMenuBar* show_in(QWidget* window);
    /// The window the tree is shown in; null when it is not shown.
    QWidget* window() const;
    /// The root menu shown in `window`; null when it shows none.
    static menu* window_menu(const QWidget* window);

    /// The handle of the Qt menu that shows this menu's items (the menu bar for the root, the
    /// submenu for an item with items); 0 while not shown or without items.
    std::uint32_t handle() const;

signals:
    /// The user chose this item.
    void clicked();
    /// Emitted by the root while shown, when the highlighted item changes: the item's command
    /// identifier, its flags (rt's mf_ values: highlighted, submenu, disabled) and the handle of
    /// the menu holding it; item 0, flags 0xffff and handle 0 when the menu closes.
    void menuselect(std::uint16_t itemid, std::uint16_t flags, std::uint32_t hmenu);

private:
    struct Private;
    std::unique_ptr<Private> const d;
};

} // namespace lumora
