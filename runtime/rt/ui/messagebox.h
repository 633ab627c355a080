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
/// A handler installed with set_messagebox_handler() answers it (tests, modes without a window,
/// a host's own dialogs); without one, a GUI application shows a QMessageBox. With neither
/// nobody can see the box and nothing is printed: an OK box counts as acknowledged (1) and a
/// Yes/No question as answered No (2). Safe to call from any thread that may show a box.
int messagebox(const QString& title, const QString& text, icon i = icon::information,
               buttons b = buttons::ok);

/// Replaces how message boxes are shown; an empty handler restores the default. Returns the
/// previous handler. A box being answered meanwhile keeps the handler it started with.
messagebox_handler set_messagebox_handler(messagebox_handler handler);

} // namespace rt
