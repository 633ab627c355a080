#include "menu.h"

#include <rt/ui/handles.h>
#include <rt/ui/menus.h>

#include <QAction>
#include <QEvent>
#include <QLayout>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QTimer>

#include <bitset>

namespace lumora {

namespace {

const char* const window_property = "lumora_menu";

// Command identifiers in use, so that no two living menus share one.
struct id_pool {
    std::bitset<65536> used;
    std::uint16_t last = 0;

    std::uint16_t take()
    {
        for (int tries = 0; tries < 65535; ++tries) {
            last = last == 65535 ? 1 : static_cast<std::uint16_t>(last + 1);
            if (!used.test(last)) {
                used.set(last);
                return last;
            }
        }
        return 0; // all taken: the menu goes without an identifier
    }
    void give_back(std::uint16_t id) { used.reset(id); }
};

id_pool& ids()
{
    static id_pool pool;
    return pool;
}

// A menu bar that a new one replaces, or whose tree goes. It is deleted later, not at once:
// the change may come from a handler of one of its own menus, which is still running.
void retire(QMenuBar* bar)
{
    if (bar == nullptr)
        return;
    bar->hide();
    bar->deleteLater();
}

bool is_separator(const QString& text)
{
    return text == QLatin1String("-");
}

// Keeps a menu bar along the top of a window that has no layout to place it.
class bar_follower : public QObject {
public:
    bar_follower(QWidget* window, QMenuBar* bar) : QObject(bar), bar_(bar)
    {
        window->installEventFilter(this);
        place(window);
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Resize && bar_)
            place(static_cast<QWidget*>(watched));
        return false;
    }

private:
    void place(const QWidget* window)
    {
        bar_->setGeometry(0, 0, window->width(), bar_->sizeHint().height());
    }
    QPointer<QMenuBar> bar_;
};

} // namespace

// Hidden: a nested class would otherwise take the exported class's visibility, and its functions
// defined out of line would join the library's interface.
struct LUMORA_NO_EXPORT menu::Private {
    menu* q = nullptr;
    QString text;
    QString microhelp;
    std::uint16_t id = 0;
    bool enabled = true;
    bool checked = false;
    QList<menu*> items;
    QPointer<menu> parent;
    bool dying = false;

    // How the menu is shown: its action in the parent's Qt menu, its own Qt menu when it has
    // items; for a shown root, the window and the bar.
    QPointer<QAction> action;
    QPointer<QMenu> submenu;
    QPointer<QWidget> window;
    QPointer<QMenuBar> bar;
    bool open = false; // a menu of the tree is open (for the closing notification)

    menu* root()
    {
        menu* r = q;
        while (r->d->parent)
            r = r->d->parent;
        return r;
    }
    /// The Qt widget that shows this menu's items: the bar of a shown root, the submenu of an
    /// item with items; null when they are not shown.
    QWidget* container() const
    {
        return parent ? static_cast<QWidget*>(submenu.data()) : static_cast<QWidget*>(bar.data());
    }

    // What a shown root does for its tree. A change to the tree changes only the Qt menus of the
    // items concerned, so that an open menu stays open and handles stay what they were.
    void report(QAction* highlighted, QWidget* container);
    void report_closed();
    void build_item(menu* item, QWidget* container, QAction* before);
    void rebuild_item(menu* item);
    void added(menu* item);
    void removed(menu* item, menu* owner);
};

void menu::Private::report(QAction* highlighted, QWidget* container)
{
    if (highlighted == nullptr)
        return;
    std::uint16_t flags = rt::mf_hilite;
    if (highlighted->menu() != nullptr)
        flags |= rt::mf_popup;
    if (!highlighted->isEnabled())
        flags |= rt::mf_grayed | rt::mf_disabled;
    if (highlighted->isChecked())
        flags |= rt::mf_checked;
    open = true;
    emit q->menuselect(static_cast<std::uint16_t>(rt::menu_item_id(highlighted)), flags,
                       rt::handle_of(container));
}

void menu::Private::report_closed()
{
    // Hiding one submenu while another of the tree opens is no closing.
    if (!open || !bar)
        return;
    for (const QMenu* m : bar->findChildren<QMenu*>())
        if (m->isVisible())
            return;
    open = false;
    emit q->menuselect(0, static_cast<std::uint16_t>(rt::mf_menu_closed), 0);
}

void menu::Private::build_item(menu* item, QWidget* container, QAction* before)
{
    QAction* shown = nullptr;
    if (is_separator(item->d->text)) {
        shown = new QAction(container);
        shown->setSeparator(true);
    } else if (!item->d->items.isEmpty()) {
        auto* sub = new QMenu(item->d->text, container);
        item->d->submenu = sub;
        rt::register_menu(sub);
        shown = sub->menuAction();
        QObject::connect(sub, &QMenu::hovered, q, [this, sub](QAction* a) { report(a, sub); });
        if (container == bar)
            QObject::connect(sub, &QMenu::aboutToShow, q,
                             [this, shown] { report(shown, bar.data()); });
        QObject::connect(sub, &QMenu::aboutToHide, q,
                         [this] { QTimer::singleShot(0, q, [this] { report_closed(); }); });
        for (menu* child : item->d->items)
            build_item(child, sub, nullptr);
    } else {
        shown = new QAction(item->d->text, container);
        QObject::connect(shown, &QAction::triggered, item, &menu::clicked);
    }
    rt::set_menu_item_id(shown, item->d->id);
    shown->setEnabled(item->d->enabled);
    // Checkable only while checked: an unchecked item shows no empty box.
    shown->setCheckable(item->d->checked);
    shown->setChecked(item->d->checked);
    container->insertAction(before, shown);
    item->d->action = shown;
}

namespace {

// Takes an item's Qt action (and submenu, with the actions of its items) out of the menus. They
// are deleted later, not at once: the change may come from a handler of that very action.
void unshow(QPointer<QAction>& action, QPointer<QMenu>& submenu)
{
    if (action)
        for (QObject* o : action->associatedObjects())
            if (auto* w = qobject_cast<QWidget*>(o); w != nullptr && w != submenu.data())
                w->removeAction(action);
    if (submenu) {
        submenu->hide();
        submenu->deleteLater();
    } else if (action) {
        action->deleteLater();
    }
    action = nullptr;
    submenu = nullptr;
}

} // namespace

// Shows an item again in its place: it became or stopped being a separator or a submenu.
void menu::Private::rebuild_item(menu* item)
{
    menu* owner = item->d->parent;
    QWidget* container = owner ? owner->d->container() : nullptr;
    if (container == nullptr)
        return;
    QAction* before = nullptr;
    const QList<menu*>& siblings = owner->d->items;
    for (qsizetype i = siblings.indexOf(item) + 1; i < siblings.size() && !before; ++i)
        before = siblings.at(i)->d->action.data();
    unshow(item->d->action, item->d->submenu);
    build_item(item, container, before);
}

void menu::Private::added(menu* item)
{
    menu* owner = item->d->parent;
    if (owner == q)
        build_item(item, bar, nullptr);
    else if (owner->d->submenu)
        build_item(item, owner->d->submenu, nullptr);
    else // the owner's first item: the owner becomes a submenu, in its place
        rebuild_item(owner);
}

void menu::Private::removed(menu* item, menu* owner)
{
    unshow(item->d->action, item->d->submenu);
    // The owner's last item: the owner becomes a plain item again, in its place.
    if (owner != q && owner->d->items.isEmpty())
        rebuild_item(owner);
}

menu::menu(const QString& text, const QString& microhelp, menu* parent_menu)
    : QObject(parent_menu), d(std::make_unique<Private>())
{
    d->q = this;
    d->text = text;
    d->microhelp = microhelp;
    d->id = ids().take();
    d->parent = parent_menu;
    if (parent_menu != nullptr) {
        parent_menu->d->items.append(this);
        // A shown tree shows its new item at once.
        menu* root = parent_menu->d->root();
        if (root->d->window && root->d->bar)
            root->d->added(this);
    }
}

menu::~menu()
{
    d->dying = true;
    // Items go first, while this menu's state still exists for them to leave; their Qt menus go
    // with this one's.
    const QList<menu*> items = d->items;
    qDeleteAll(items);
    if (d->window && d->window->property(window_property).value<QObject*>() == this)
        d->window->setProperty(window_property, QVariant());
    retire(d->bar.data());
    if (menu* parent = d->parent.data()) {
        parent->d->items.removeOne(this);
        menu* root = parent->d->root();
        if (!parent->d->dying && !root->d->dying && root->d->window && root->d->bar)
            root->d->removed(this, parent);
    }
    ids().give_back(d->id);
}

QString menu::text() const
{
    return d->text;
}

void menu::set_text(const QString& text)
{
    const bool rebuild = is_separator(text) != is_separator(d->text);
    d->text = text;
    if (d->submenu)
        d->submenu->setTitle(text);
    else if (d->action)
        d->action->setText(text);
    if (rebuild) {
        menu* root = d->root();
        if (root != this && root->d->window && root->d->bar)
            root->d->rebuild_item(this);
    }
}

QString menu::microhelp() const
{
    return d->microhelp;
}

void menu::set_microhelp(const QString& microhelp)
{
    d->microhelp = microhelp;
}

std::uint16_t menu::id() const
{
    return d->id;
}

bool menu::enabled() const
{
    return d->enabled;
}

void menu::set_enabled(bool enabled)
{
    d->enabled = enabled;
    if (d->action)
        d->action->setEnabled(enabled);
}

bool menu::checked() const
{
    return d->checked;
}

void menu::set_checked(bool checked)
{
    d->checked = checked;
    if (d->action && !d->action->isSeparator()) {
        d->action->setCheckable(checked);
        d->action->setChecked(checked);
    }
}

menu* menu::add_item(const QString& text, const QString& microhelp)
{
    return new menu(text, microhelp, this);
}

QList<menu*> menu::items() const
{
    return d->items;
}

int menu::item_count() const
{
    return static_cast<int>(d->items.size());
}

menu* menu::parent_menu() const
{
    return d->parent.data();
}

QWidget* menu::window() const
{
    return d->window.data();
}

menu* menu::window_menu(const QWidget* window)
{
    if (window == nullptr)
        return nullptr;
    return qobject_cast<menu*>(window->property(window_property).value<QObject*>());
}

std::uint32_t menu::handle() const
{
    if (d->bar)
        return rt::handle_of(d->bar.data());
    return d->submenu ? rt::handle_of(d->submenu.data()) : 0;
}

QMenuBar* menu::show_in(QWidget* window)
{
    if (window == nullptr)
        return nullptr;
    if (d->window && d->window != window &&
        d->window->property(window_property).value<QObject*>() == this)
        d->window->setProperty(window_property, QVariant());
    // A menu of the old bar that is open closes with it: say so.
    if (d->open) {
        d->open = false;
        emit menuselect(0, static_cast<std::uint16_t>(rt::mf_menu_closed), 0);
    }
    retire(d->bar.data());
    d->window = window;

    auto* bar = new QMenuBar(window);
    bar->setObjectName(QStringLiteral("lumora_menubar"));
    d->bar = bar;
    rt::register_menu(bar);
    for (menu* item : d->items)
        d->build_item(item, bar, nullptr);

    if (auto* main_window = qobject_cast<QMainWindow*>(window))
        main_window->setMenuBar(bar);
    else if (window->layout() != nullptr)
        window->layout()->setMenuBar(bar);
    else
        new bar_follower(window, bar);
    bar->show();
    window->setProperty(window_property, QVariant::fromValue<QObject*>(this));
    return bar;
}

} // namespace lumora
