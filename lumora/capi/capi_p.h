#pragma once

// Shared by the C ABI's translation units: the calling thread's error code, the guard that
// turns every exception into it, and the conversion of texts across the ABI. Not installed.

#include <lumora/lumora_c.h>

#include <rt/value/errors.h>

#include <QString>

#include <new>
#include <optional>

namespace lumora::detail {

/// Thrown for a result that a NUL-terminated text cannot carry; capi_guarded() reports it as
/// lumora_text_with_nul.
struct text_with_nul {};
/// Thrown for a result holding a lone surrogate, which UTF-8 cannot carry; reported as
/// lumora_text_with_lone_surrogate.
struct text_with_lone_surrogate {};

/// A C text argument (UTF-8; invalid sequences read as U+FFFD, a leading U+FEFF is kept) as a
/// string; NULL is the null text.
std::optional<QString> from_c(const char* text);
/// A copy of `text` in UTF-8 in memory from malloc, released with lumora_free(); NULL for the null
/// text. A text holding U+0000 would arrive cut short: it throws text_with_nul instead; one holding
/// a lone surrogate throws text_with_lone_surrogate. Throws std::bad_alloc when memory runs out.
char* to_c(const std::optional<QString>& text);

/// The calling thread's outcome of its last C ABI call, as lumora_last_error() reports it.
int& capi_last_error() noexcept;

/// Runs `call` and returns its result with the error code lumora_ok; on an exception returns
/// `failed` with the code of that exception. Nothing escapes.
template <typename T, typename F> T capi_guarded(T failed, F&& call) noexcept
{
    int& error = capi_last_error();
    try {
        error = lumora_ok;
        return call();
    } catch (const rt::division_by_zero&) {
        error = lumora_division_by_zero;
    } catch (const rt::null_object_reference&) {
        error = lumora_null_object_reference;
    } catch (const rt::numeric_overflow&) {
        error = lumora_numeric_overflow;
    } catch (const std::bad_alloc&) {
        error = lumora_out_of_memory;
    } catch (const text_with_nul&) {
        error = lumora_text_with_nul;
    } catch (const text_with_lone_surrogate&) {
        error = lumora_text_with_lone_surrogate;
    } catch (...) {
        error = lumora_runtime_fault;
    }
    return failed;
}

} // namespace lumora::detail
