#pragma once

// Shared by the C ABI's translation units: the calling thread's error code and the guard that
// turns every exception into it. Not installed.

#include <lumora/lumora_c.h>

#include <rt/value/errors.h>

#include <new>

namespace lumora::detail {

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
    } catch (const std::bad_alloc&) {
        error = lumora_out_of_memory;
    } catch (...) {
        error = lumora_runtime_fault;
    }
    return failed;
}

} // namespace lumora::detail
