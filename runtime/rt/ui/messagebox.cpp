#include <rt/ui/messagebox.h>

#include <QApplication>
#include <QMessageBox>

#include <mutex>
#include <utility>

namespace rt {

namespace {

std::mutex handler_mutex;

messagebox_handler& current_handler()
{
    static messagebox_handler handler;
    return handler;
}

int show_widget_box(const message& m)
{
    QMessageBox box;
    box.setWindowTitle(m.title);
    // The platform's texts break lines with a lone carriage return.
    box.setText(QString(m.text).replace(QLatin1Char('\r'), QLatin1Char('\n')));
    switch (m.icon) {
    case icon::information:
        box.setIcon(QMessageBox::Information);
        break;
    case icon::stop:
        box.setIcon(QMessageBox::Critical);
        break;
    case icon::exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case icon::question:
        box.setIcon(QMessageBox::Question);
        break;
    }
    if (m.buttons == buttons::yes_no) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? 1 : 2;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return 1;
}

} // namespace

int messagebox(const QString& title, const QString& text, icon i, buttons b)
{
    const message m{title, text, i, b};
    messagebox_handler handler;
    {
        const std::lock_guard lock(handler_mutex);
        handler = current_handler();
    }
    // Called without the lock: a handler may show a box of its own or replace itself.
    if (handler)
        return handler(m);
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        return show_widget_box(m);
    // Nobody to ask: a library must not write to a host's standard error, and a question that
    // cannot be answered must not be taken for consent.
    return b == buttons::yes_no ? 2 : 1;
}

messagebox_handler set_messagebox_handler(messagebox_handler handler)
{
    const std::lock_guard lock(handler_mutex);
    return std::exchange(current_handler(), std::move(handler));
}

} // namespace rt
