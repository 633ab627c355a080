#pragma once

/// Getters of the application's six colour settings, which the host registers with
/// lumora::host::set_color(). Each getter is empty when its colour has no value.

#include <lumora/lumora_export.h>

#include <cstdint>
#include <optional>

namespace lumora {

/// The value of sh_bj_color.
LUMORA_EXPORT std::optional<std::int32_t> get_shbj();
/// The low 16 bits of sh_qj_color (its red and green bytes) read as a signed number.
/// \code
/// host::set_color(host::color_variable::sh_qj_color, 0xff8040); // blue 255, green 128, red 64
/// get_shqj() == -32704
/// \endcode
LUMORA_EXPORT std::optional<std::int16_t> get_shqj();
/// The value of xz_bj_color.
LUMORA_EXPORT std::optional<std::int32_t> get_xzbj();
/// The value of xz_qj_color.
LUMORA_EXPORT std::optional<std::int32_t> get_xzqj();
/// The value of dh_bj_color.
LUMORA_EXPORT std::optional<std::int32_t> get_dhbj();
/// The value of dh_qj_color.
LUMORA_EXPORT std::optional<std::int32_t> get_dhqj();

} // namespace lumora
