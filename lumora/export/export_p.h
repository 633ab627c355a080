#pragma once

// What both export paths need of the user interface: the busy pointer and a yield.

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>

namespace lumora::detail {

/// Shows the busy (hourglass) pointer while it lives; the normal pointer comes back on every exit,
/// faults included. Without a GUI application it does nothing.
class busy_pointer {
public:
    busy_pointer()
    {
        if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
            QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
            active_ = true;
        }
    }
    ~busy_pointer()
    {
        if (active_)
            QGuiApplication::restoreOverrideCursor();
    }
    busy_pointer(const busy_pointer&) = delete;
    busy_pointer& operator=(const busy_pointer&) = delete;

private:
    bool active_ = false;
};

/// Lets the user interface process pending events once.
inline void yield()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

} // namespace lumora::detail
