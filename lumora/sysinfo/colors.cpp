// The colour getters: the host's registered values, handed out unchanged.

#include "colors.h"

#include <lumora/host.h>

namespace lumora {

using host::color_variable;

std::optional<std::int32_t> get_shbj()
{
    return host::color(color_variable::sh_bj_color);
}

std::optional<std::int16_t> get_shqj()
{
    const auto value = host::color(color_variable::sh_qj_color);
    if (!value)
        return std::nullopt;
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(*value & 0xffff));
}

std::optional<std::int32_t> get_xzbj()
{
    return host::color(color_variable::xz_bj_color);
}
std::optional<std::int32_t> get_xzqj()
{
    return host::color(color_variable::xz_qj_color);
}
std::optional<std::int32_t> get_dhbj()
{
    return host::color(color_variable::dh_bj_color);
}
std::optional<std::int32_t> get_dhqj()
{
    return host::color(color_variable::dh_qj_color);
}

} // namespace lumora
