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
#include <functional>

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

struct menu::Private {
    QString text;
    QString microhelp;
    std::uint16_t id = 0;
    bool enabled = true;
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
};

menu::menu(const QString& text, const QString& microhelp, menu* parent_menu)
    : QObject(parent_menu), d(std::make_unique<Private>())
{
    d->text = text;
    d->microhelp = microhelp;
    d->id = ids().take();
    d->parent = parent_menu;
    if (parent_menu != nullptr) {
        parent_menu->d->items.append(this);
        // A shown tree shows its new item at once.
        menu* root = parent_menu;
        while (root->d->parent)
            root = root->d->parent;
        if (root->d->window)
            root->show_in(root->d->window);
    }
}

menu::~menu()
{
    d->dying = true;
    // Items go first, while this menu's state still exists for them to leave.
    const QList<menu*> items = d->items;
    qDeleteAll(items);
    if (d->window && d->window->property(window_property).value<QObject*>() == this)
        d->window->setProperty(window_property, QVariant());
    retire(d->bar.data());
    // An item's Qt action and submenu belong to the bar, which the rebuild below replaces.
    if (menu* parent = d->parent.data()) {
        parent->d->items.removeOne(this);
        menu* root = parent;
        while (root->d->parent)
            root = root->d->parent;
        if (!root->d->dying && root->d->window)
            root->show_in(root->d->window);
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
        menu* root = this;
        while (root->d->parent)
            root = root->d->parent;
        if (root->d->window)
            root->show_in(root->d->window);
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
    retire(d->bar.data());
    d->window = window;
    d->open = false;

    auto* bar = new QMenuBar(window);
    bar->setObjectName(QStringLiteral("lumora_menubar"));
    d->bar = bar;
    rt::register_menu(bar);

    auto report = [this](QAction* action, QWidget* container) {
        if (action == nullptr)
            return;
        std::uint16_t flags = rt::mf_hilite;
        if (action->menu() != nullptr)
            flags |= rt::mf_popup;
        if (!action->isEnabled())
            flags |= rt::mf_grayed | rt::mf_disabled;
        if (action->isChecked())
            flags |= rt::mf_checked;
        d->open = true;
        emit menuselect(static_cast<std::uint16_t>(rt::menu_item_id(action)), flags,
                        rt::handle_of(container));
    };
    auto closed = [this] {
        // Hiding one submenu while another of the tree opens is no closing.
        if (!d->open || !d->bar)
            return;
        for (const QMenu* m : d->bar->findChildren<QMenu*>())
            if (m->isVisible())
                return;
        d->open = false;
        emit menuselect(0, static_cast<std::uint16_t>(rt::mf_menu_closed), 0);
    };

    std::function<void(menu*, QWidget*)> build = [&](menu* node, QWidget* container) {
        for (menu* item : node->d->items) {
            QAction* action = nullptr;
            if (is_separator(item->d->text)) {
                action = new QAction(container);
                action->setSeparator(true);
            } else if (!item->d->items.isEmpty()) {
                auto* sub = new QMenu(item->d->text, container);
                item->d->submenu = sub;
                rt::register_menu(sub);
                action = sub->menuAction();
                connect(sub, &QMenu::hovered, this, [report, sub](QAction* a) { report(a, sub); });
                if (container == bar)
                    connect(sub, &QMenu::aboutToShow, this,
                            [report, action, bar] { report(action, bar); });
                connect(sub, &QMenu::aboutToHide, this,
                        [this, closed] { QTimer::singleShot(0, this, closed); });
                build(item, sub);
            } else {
                action = new QAction(item->d->text, container);
                connect(action, &QAction::triggered, item, &menu::clicked);
            }
            rt::set_menu_item_id(action, item->d->id);
            action->setEnabled(item->d->enabled);
            container->addAction(action);
            item->d->action = action;
        }
    };
    build(this, bar);

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
