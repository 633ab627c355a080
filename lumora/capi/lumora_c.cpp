// The C ABI: every function turns its C arguments into the C++ ones, calls the service and hands
// the result back in memory the caller frees with lumora_free(). No exception leaves it.

#include "capi_p.h"
#include <lumora/lumora_c.h>
#include <lumora/text/string_functions.h>

#include <QString>

#include <cstdlib>
#include <optional>

using lumora::detail::capi_guarded;
using lumora::detail::from_c;
using lumora::detail::to_c;

namespace {

thread_local int last_error = lumora_ok;

/// Runs `call`, which gives a text, and hands the text out as lumora_free() releases it; the
/// calling thread's error code tells the outcome.
template <typename F> char* guarded(F&& call) noexcept
{
    return capi_guarded(static_cast<char*>(nullptr), [&] { return to_c(call()); });
}

} // namespace

int& lumora::detail::capi_last_error() noexcept
{
    return last_error;
}

extern "C" {

int lumora_last_error(void)
{
    return last_error;
}

void lumora_free(char* text)
{
    std::free(text);
}

char* strtohex(const char* str_sz)
{
    return guarded([&] { return lumora::strtohex(from_c(str_sz)); });
}

char* qj_bj(const char* str1)
{
    return guarded([&] { return std::optional<QString>(lumora::qj_bj(from_c(str1))); });
}

char* wf_wps_cell(int16_t c, int16_t r)
{
    return guarded([&] { return std::optional<QString>(lumora::wf_wps_cell(c, r)); });
}

} // extern "C"
