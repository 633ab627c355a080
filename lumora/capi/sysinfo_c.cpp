// The system probes, the colour getters and the host's colour registration in the C ABI.

#include "capi_p.h"

#include <lumora/host.h>
#include <lumora/lumora_c.h>
#include <lumora/sysinfo/colors.h>
#include <lumora/sysinfo/probes.h>

#include <optional>

using lumora::detail::capi_guarded;
using lumora::detail::from_c;
using lumora::detail::to_c;

namespace {

template <typename T> int hand_out(const std::optional<T>& result, T* value)
{
    if (!result)
        return 0;
    if (value)
        *value = *result;
    return 1;
}

std::optional<lumora::host::color_variable> variable_of(int variable)
{
    if (variable < lumora_sh_bj_color || variable > lumora_dh_qj_color)
        return std::nullopt;
    return static_cast<lumora::host::color_variable>(variable);
}

} // namespace

extern "C" {

int of_apifunctionpresent(const char* ls_functionname, const char* ls_dllname)
{
    return capi_guarded(0, [&] {
        return lumora::of_apifunctionpresent(from_c(ls_functionname), from_c(ls_dllname)) ? 1 : 0;
    });
}

char* of_infoversion64bit(void)
{
    return capi_guarded(static_cast<char*>(nullptr),
                        [] { return to_c(lumora::of_infoversion64bit()); });
}

int lumora_blniswin64bit(void)
{
    return capi_guarded(0, [] { return lumora::blniswin64bit ? 1 : 0; });
}

int get_shbj(int32_t* value)
{
    return capi_guarded(0, [&] { return hand_out(lumora::get_shbj(), value); });
}

int get_shqj(int16_t* value)
{
    return capi_guarded(0, [&] { return hand_out(lumora::get_shqj(), value); });
}

int get_xzbj(int32_t* value)
{
    return capi_guarded(0, [&] { return hand_out(lumora::get_xzbj(), value); });
}

int get_xzqj(int32_t* value)
{
    return capi_guarded(0, [&] { return hand_out(lumora::get_xzqj(), value); });
}

int get_dhbj(int32_t* value)
{
    return capi_guarded(0, [&] { return hand_out(lumora::get_dhbj(), value); });
}

int get_dhqj(int32_t* value)
{
    return capi_guarded(0, [&] { return hand_out(lumora::get_dhqj(), value); });
}

int lumora_host_set_color(int variable, int32_t value)
{
    return capi_guarded(-1, [&] {
        const auto v = variable_of(variable);
        if (!v)
            return -1;
        lumora::host::set_color(*v, value);
        return 1;
    });
}

int lumora_host_clear_color(int variable)
{
    return capi_guarded(-1, [&] {
        const auto v = variable_of(variable);
        if (!v)
            return -1;
        lumora::host::set_color(*v, std::nullopt);
        return 1;
    });
}

} // extern "C"
