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

} // namespace lumora::host
