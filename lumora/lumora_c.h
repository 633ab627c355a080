#pragma once

/// The C ABI of liblumora.so: the global functions under their own names, for hosts that load
/// the library and look the functions up by name (dlopen / dlsym).
///
/// - Text crosses as NUL-terminated UTF-8, unchanged: a leading U+FEFF is a character of the
///   text, not a byte-order mark to drop. Invalid UTF-8 in an argument reads as U+FFFD.
/// - Every text a function returns is allocated by the library and owned by the caller, who
///   releases it with lumora_free() (never with free()). A function may return NULL: either the
///   function's result is the null text (stated per function) or the call failed, which
///   lumora_last_error() then tells.
/// - A result text that UTF-8 cannot carry unchanged is refused: the function returns NULL and
///   lumora_last_error() gives lumora_text_with_nul for one holding U+0000 (it would arrive cut
///   short; wf_wps_cell(-64, 1)) and lumora_text_with_lone_surrogate for one holding half of a
///   surrogate pair (wf_wps_cell(-9000, 5)).
/// - No C++ exception ever leaves these functions; the runtime's faults and a lack of memory
///   become the error codes below.

#include <lumora/lumora_export.h>

#include <stdint.h>

#include <lumora/capi/numeric_c.h>
#include <lumora/capi/sysinfo_c.h>

#ifdef __cplusplus
extern "C" {
#endif

/// Error codes of lumora_last_error().
enum lumora_error {
    lumora_ok = 0,                       ///< the last call succeeded
    lumora_null_object_reference = 1,    ///< a null or destroyed object was used
    lumora_division_by_zero = 2,         ///< a division by zero occurred
    lumora_runtime_fault = 3,            ///< another fault of the running code
    lumora_out_of_memory = 4,            ///< memory ran out
    lumora_text_with_nul = 5,            ///< the result holds U+0000, which a C text cannot carry
    lumora_text_with_lone_surrogate = 6, ///< the result holds a lone surrogate, which UTF-8
                                         ///< cannot carry
    lumora_numeric_overflow = 7 ///< a decimal result too large to hold (rt::numeric_overflow)
};

/// The outcome of the calling thread's last call of a function of this header (lumora_ok when it
/// succeeded). lumora_free() and lumora_last_error() do not change it.
LUMORA_EXPORT int lumora_last_error(void);

/// Releases a text returned by a function of this header. NULL is allowed and does nothing.
LUMORA_EXPORT void lumora_free(char* text);

/// A number written as text (a 32-bit integer; -1 reads as 4294967295, a text that is not a
/// number as 0) in upper-case hexadecimal: 1 to 4 digits as they are, 5 to 7 digits filled up
/// to 8 characters from "678". strtohex("255") gives "FF", strtohex("74565") gives "12345678".
/// NULL stands for the null text and gives NULL (with lumora_ok).
LUMORA_EXPORT char* strtohex(const char* str_sz);

/// Full-width digits, letters and the common full-width and CJK punctuation turned into their
/// half-width ASCII forms; every other character is kept. NULL gives "".
LUMORA_EXPORT char* qj_bj(const char* str1);

/// A spreadsheet cell address: column c (1 = A, 27 = AA, up to 702 = ZZ) followed by row r in
/// decimal. wf_wps_cell(28, 3) gives "AB3".
LUMORA_EXPORT char* wf_wps_cell(int16_t c, int16_t r);

#ifdef __cplusplus
}
#endif
