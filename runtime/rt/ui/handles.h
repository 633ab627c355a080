#pragma once

#include <rt/ui/handle.h>
#include <rt/ui/window_messages.h>

#include <QIcon>
#include <QString>

class QObject;
class QWidget;

namespace rt {

// The handle registry: it maps handles (<rt/ui/handle.h>) to widgets, menus and icons.
//
// Windows and menus stay registered for the lifetime of their object: destroying the widget or
// the menu retires its handle, and a retired handle answers as an unknown one. Icons are values
// and stay registered until destroy_icon().
//
// The registry belongs to the user-interface thread; it has no locks.

/// Registers a widget as a window and returns its handle. `target` answers the messages sent
/// to the handle (see send_message()); it may be null (messages then return 0) and must stay
/// alive until the handle is retired: a target that is a part of the widget calls
/// unregister_handle() from the widget's destructor. A widget that is already registered keeps
/// its handle; the target is replaced when a new one is given.
handle register_window(QWidget* widget, message_target* target = nullptr);

/// Registers a menu (a QMenu or QMenuBar, or any object standing for one) and returns its
/// handle; an object already registered keeps its handle.
handle register_menu(QObject* menu);

/// Retires the handle of a window or a menu at once (before the object is destroyed). Returns
/// false for an unknown handle or an icon (icons go with destroy_icon()).
bool unregister_handle(handle h);

/// The handle of a registered window or menu; 0 when the object has none.
handle handle_of(const QObject* object);

/// What a handle names now; handle_kind::none for 0, unknown and retired handles.
handle_kind kind_of(handle h);

/// The widget of a window handle; null when the handle names no living window.
QWidget* window_from_handle(handle h);
/// The object of a menu handle; null when the handle names no living menu.
QObject* menu_from_handle(handle h);
/// The message target of a window handle; null when there is none.
message_target* target_from_handle(handle h);

/// Registers an icon and returns its handle; 0 for a null icon.
handle register_icon(const QIcon& icon);
/// The icon of an icon handle; a null QIcon when the handle names no icon.
QIcon icon_from_handle(handle h);
/// Releases an icon handle; false when it names no icon.
bool destroy_icon(handle h);

/// Loads an icon from a file (any image format Qt reads, .ico included) at `width` by
/// `height` pixels and returns its handle; 0 when the file cannot be read. A `.ico` holding
/// several sizes gives the one closest to the request; others are scaled smoothly. Backslashes
/// in the name are read as directory separators. Needs a QGuiApplication (0 without one).
handle load_icon(const QString& file_name, int width, int height);

} // namespace rt
