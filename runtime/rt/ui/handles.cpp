#include <rt/ui/handles.h>

#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QWidget>

#include <unordered_map>

namespace rt {

namespace {

struct entry {
    handle_kind kind = handle_kind::none;
    QPointer<QObject> object;
    const QObject* key = nullptr; // the object's address, for by_object (the pointer clears first)
    message_target* target = nullptr;
    QIcon icon;
    QMetaObject::Connection on_destroyed;
};

struct registry {
    std::unordered_map<handle, entry> entries;
    std::unordered_map<const QObject*, handle> by_object;
    handle last = 0;

    handle next_handle()
    {
        do {
            last = last >= 0x7fffffffu ? 1 : last + 1;
        } while (entries.count(last) != 0);
        return last;
    }

    void retire(handle h)
    {
        const auto it = entries.find(h);
        if (it == entries.end())
            return;
        QObject::disconnect(it->second.on_destroyed);
        if (const auto o = by_object.find(it->second.key); o != by_object.end() && o->second == h)
            by_object.erase(o);
        entries.erase(it);
    }

    handle add_object(QObject* object, handle_kind kind, message_target* target)
    {
        if (object == nullptr)
            return 0;
        if (const auto found = by_object.find(object); found != by_object.end()) {
            entry& e = entries.at(found->second);
            if (e.kind == kind) {
                if (target != nullptr)
                    e.target = target;
                return found->second;
            }
            retire(found->second);
        }
        const handle h = next_handle();
        entry e{kind, object, object, target, {}, {}};
        // The handle goes when the object goes, so a later object at the same address never
        // inherits it.
        e.on_destroyed =
            QObject::connect(object, &QObject::destroyed, [this, h](QObject*) { retire(h); });
        entries.emplace(h, std::move(e));
        by_object.emplace(object, h);
        return h;
    }

    const entry* find(handle h, handle_kind kind) const
    {
        const auto it = entries.find(h);
        if (it == entries.end() || it->second.kind != kind)
            return nullptr;
        if (kind != handle_kind::icon && it->second.object.isNull())
            return nullptr;
        return &it->second;
    }
};

registry& the_registry()
{
    // Never destroyed: objects that outlive main() still retire their handles on destruction.
    static registry* const r = new registry;
    return *r;
}

} // namespace

handle register_window(QWidget* widget, message_target* target)
{
    return the_registry().add_object(widget, handle_kind::window, target);
}

handle register_menu(QObject* menu)
{
    return the_registry().add_object(menu, handle_kind::menu, nullptr);
}

bool unregister_handle(handle h)
{
    registry& r = the_registry();
    const auto it = r.entries.find(h);
    if (it == r.entries.end() || it->second.kind == handle_kind::icon)
        return false;
    r.retire(h);
    return true;
}

handle handle_of(const QObject* object)
{
    const registry& r = the_registry();
    const auto it = r.by_object.find(object);
    return it == r.by_object.end() ? 0 : it->second;
}

handle_kind kind_of(handle h)
{
    for (const handle_kind k : {handle_kind::window, handle_kind::menu, handle_kind::icon})
        if (the_registry().find(h, k) != nullptr)
            return k;
    return handle_kind::none;
}

QWidget* window_from_handle(handle h)
{
    const entry* e = the_registry().find(h, handle_kind::window);
    return e == nullptr ? nullptr : static_cast<QWidget*>(e->object.data());
}

QObject* menu_from_handle(handle h)
{
    const entry* e = the_registry().find(h, handle_kind::menu);
    return e == nullptr ? nullptr : e->object.data();
}

message_target* target_from_handle(handle h)
{
    const entry* e = the_registry().find(h, handle_kind::window);
    return e == nullptr ? nullptr : e->target;
}

handle register_icon(const QIcon& icon)
{
    if (icon.isNull())
        return 0;
    registry& r = the_registry();
    const handle h = r.next_handle();
    r.entries.emplace(h, entry{handle_kind::icon, {}, nullptr, nullptr, icon, {}});
    return h;
}

QIcon icon_from_handle(handle h)
{
    const entry* e = the_registry().find(h, handle_kind::icon);
    return e == nullptr ? QIcon() : e->icon;
}

bool destroy_icon(handle h)
{
    registry& r = the_registry();
    if (r.find(h, handle_kind::icon) == nullptr)
        return false;
    r.entries.erase(h);
    return true;
}

handle load_icon(const QString& file_name, int width, int height)
{
    // Pixmaps need the GUI application.
    if (width <= 0 || height <= 0 || file_name.isEmpty() ||
        qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr)
        return 0;
    QString path = file_name;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!QFileInfo(path).isFile())
        return 0;
    QImageReader reader(path);
    // An icon file holds several images; take the smallest one at least as large as asked,
    // else the largest, so scaling loses the least.
    QImage best;
    for (int i = 0, n = std::max(reader.imageCount(), 1); i < n; ++i) {
        if (i > 0 && !reader.jumpToImage(i))
            break;
        const QImage image = reader.read();
        if (image.isNull())
            continue;
        const bool fits = image.width() >= width && image.height() >= height;
        const bool best_fits = !best.isNull() && best.width() >= width && best.height() >= height;
        if (best.isNull() || (fits && (!best_fits || image.width() < best.width())) ||
            (!fits && !best_fits && image.width() > best.width()))
            best = image;
    }
    if (best.isNull())
        return 0;
    if (best.size() != QSize(width, height))
        best = best.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return register_icon(QIcon(QPixmap::fromImage(best)));
}

} // namespace rt
