#pragma once

#include <QString>

#include <functional>

namespace rt {

enum class icon { information, stop, exclamation, question };
enum class buttons { ok, yes_no };

/// A request to show a modal message box.
struct message {
    QString title;
    QString text;
    rt::icon icon = icon::information;
    rt::buttons buttons = buttons::ok;
};

/// Answers a message box: returns the number of the pressed button (OK and Yes are 1, No is 2).
using messagebox_handler = std::function<int(const message&)>;

/// Shows a modal message box and returns the number of the pressed button.
/// With a GUI application running this is a QMessageBox; a handler installed with
/// set_messagebox_handler() takes its place (tests, modes without a window). Without either the
/// message goes to standard error and the result is 1.
int messagebox(const QString& title, const QString& text, icon i = icon::information,
               buttons b = buttons::ok);

/// Replaces how message boxes are shown; an empty handler restores the default. Returns the
/// previous handler.
messagebox_handler set_messagebox_handler(messagebox_handler handler);

} // namespace rt
