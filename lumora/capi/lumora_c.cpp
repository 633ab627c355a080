// The C ABI: every function turns its C arguments into the C++ ones, calls the service and hands
// the result back in memory the caller frees with lumora_free(). No exception leaves it.

#include "capi_p.h"
#include <lumora/lumora_c.h>
#include <lumora/text/string_functions.h>

#include <rt/value/errors.h>

#include <QString>

#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>

namespace {

thread_local int last_error = lumora_ok;

/// A result that a NUL-terminated text cannot carry.
struct text_with_nul {};

/// A copy of `text` in UTF-8 in memory from malloc; NULL for the null text. A text holding
/// U+0000 would arrive cut short, so it is refused.
char* to_c(const std::optional<QString>& text)
{
    if (!text)
        return nullptr;
    if (text->contains(QChar(0)))
        throw text_with_nul();
    const QByteArray utf8 = text->toUtf8();
    auto* out = static_cast<char*>(std::malloc(static_cast<std::size_t>(utf8.size()) + 1));
    if (!out)
        throw std::bad_alloc();
    std::memcpy(out, utf8.constData(), static_cast<std::size_t>(utf8.size()) + 1);
    return out;
}

std::optional<QString> from_c(const char* text)
{
    if (!text)
        return std::nullopt;
    return QString::fromUtf8(text);
}

/// Runs `call` with the calling thread's error code set from its outcome.
template <typename F> char* guarded(F&& call) noexcept
{
    try {
        last_error = lumora_ok;
        return to_c(call());
    } catch (const rt::division_by_zero&) {
        last_error = lumora_division_by_zero;
    } catch (const rt::null_object_reference&) {
        last_error = lumora_null_object_reference;
    } catch (const std::bad_alloc&) {
        last_error = lumora_out_of_memory;
    } catch (const text_with_nul&) {
        last_error = lumora_text_with_nul;
    } catch (...) {
        last_error = lumora_runtime_fault;
    }
    return nullptr;
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
