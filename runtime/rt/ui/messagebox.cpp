#include <rt/ui/messagebox.h>

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <utility>

namespace rt {

namespace {

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
    if (const auto& handler = current_handler())
        return handler(m);
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        return show_widget_box(m);
    std::fprintf(stderr, "%s: %s\n", qPrintable(m.title),
                 qPrintable(QString(m.text).replace(QLatin1Char('\r'), QLatin1Char('\n'))));
    return 1;
}

messagebox_handler set_messagebox_handler(messagebox_handler handler)
{
    return std::exchange(current_handler(), std::move(handler));
}

} // namespace rt
