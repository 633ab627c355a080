#pragma once

/// What the host application hands to the library: values the library's services read but the
/// host owns. Each value is registered by a call here and read back when a service needs it; a
/// value that was never registered (or was cleared) is missing, and each service says how it
/// treats a missing value.
///
/// Registration and reading are safe from any thread.

#include <lumora/lumora_export.h>

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace lumora::host {

/// The application's six colour settings, in three pairs. Colours are 32-bit RGB values, red in
/// the low byte, then green, then blue.
enum class color_variable {
    sh_bj_color,
    sh_qj_color,
    xz_bj_color,
    xz_qj_color,
    dh_bj_color,
    dh_qj_color,
};

/// Registers the current value of a colour setting; an empty value clears it (no value).
LUMORA_EXPORT void set_color(color_variable variable, std::optional<std::int32_t> value);

/// The registered value of a colour setting; empty when none is registered.
LUMORA_EXPORT std::optional<std::int32_t> color(color_variable variable);

/// Registers the application-wide message-box title `sys_ts`; an empty value clears it. The
/// export functions show their messages under this title (an empty title when none is set).
LUMORA_EXPORT void set_sys_ts(std::optional<QString> title);

/// The registered message-box title; empty when none is registered.
LUMORA_EXPORT std::optional<QString> sys_ts();

/// The icon of a message box.
enum class message_icon { information, stop, exclamation, question };
/// The buttons of a message box: OK alone, or Yes and No.
enum class message_buttons { ok, yes_no };

/// A message box the library wants to show (the grid exports' notices and questions, the error
/// of n_cst_numerical::of_sizeof for an unsupported type).
struct message {
    QString title;
    QString text; ///< lines broken by "\r" or "\n"
    message_icon icon = message_icon::information;
    message_buttons buttons = message_buttons::ok;
};

/// Answers a message box: the number of the pressed button, 1 for OK or Yes, 2 for No.
using messagebox_handler = std::function<int(const message&)>;

/// Installs the host's handler for the library's message boxes; an empty handler removes it.
/// Returns the handler installed before (empty when there was none).
///
/// Without a handler the library shows a QMessageBox when the host runs a QApplication. In a
/// host without one (a QCoreApplication, or no Qt application at all) the library prints
/// nothing and waits for nobody: an OK box counts as acknowledged and a Yes/No question as
/// answered No (so an export never overwrites an existing file unasked).
///
/// The handler is called on the thread that shows the box, which waits for its answer; it may be
/// replaced from any thread at any time.
/// \code
/// lumora::host::set_messagebox_handler([](const lumora::host::message& m) {
///     std::fprintf(stderr, "%s: %s\n", qPrintable(m.title), qPrintable(m.text));
///     return 1;
/// });
/// \endcode
LUMORA_EXPORT messagebox_handler set_messagebox_handler(messagebox_handler handler);

} // namespace lumora::host
