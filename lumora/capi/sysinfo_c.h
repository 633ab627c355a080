#pragma once

/// The system probes and colour getters in the C ABI (part of <lumora/lumora_c.h>), and the
/// registration of the host's colours. Every function sets lumora_last_error().

#include <lumora/lumora_export.h>

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/// 1 when the shared library `ls_dllname` (a name as the dynamic loader takes it, such as
/// "libm.so.6", or a path) exports the function `ls_functionname`, otherwise 0 (also for NULL
/// or empty names). Loads nothing and runs none of the library's code.
LUMORA_EXPORT int of_apifunctionpresent(const char* ls_functionname, const char* ls_dllname);

/// "64bits" on an x86-64 or Itanium system, otherwise "32bits"; the caller releases the text
/// with lumora_free(). NULL only when memory ran out.
LUMORA_EXPORT char* of_infoversion64bit(void);

/// The flag the last of_infoversion64bit() left: 1 for a 64-bit system, else 0.
LUMORA_EXPORT int lumora_blniswin64bit(void);

/// The colour getters. Each returns 1 and writes the colour to `*value` (when `value` is not
/// NULL), or returns 0 and leaves `*value` alone when the colour has no value.
LUMORA_EXPORT int get_shbj(int32_t* value);
/// The low 16 bits of sh_qj_color as a signed number (-32704 for blue 255, green 128, red 64).
LUMORA_EXPORT int get_shqj(int16_t* value);
LUMORA_EXPORT int get_xzbj(int32_t* value);
LUMORA_EXPORT int get_xzqj(int32_t* value);
LUMORA_EXPORT int get_dhbj(int32_t* value);
LUMORA_EXPORT int get_dhqj(int32_t* value);

/// The host's colour settings, for lumora_host_set_color() and lumora_host_clear_color().
enum lumora_color_variable {
    lumora_sh_bj_color = 0,
    lumora_sh_qj_color = 1,
    lumora_xz_bj_color = 2,
    lumora_xz_qj_color = 3,
    lumora_dh_bj_color = 4,
    lumora_dh_qj_color = 5
};

/// Registers the value of a colour setting (RGB, red in the low byte). Returns 1, or -1 for an
/// unknown variable.
LUMORA_EXPORT int lumora_host_set_color(int variable, int32_t value);

/// Clears a colour setting: its getter gives no value. Returns 1, or -1 for an unknown variable.
LUMORA_EXPORT int lumora_host_clear_color(int variable);

#ifdef __cplusplus
}
#endif
