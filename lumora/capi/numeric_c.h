#pragma once

/// The bit functions in the C ABI (part of <lumora/lumora_c.h>). C has no null integers, so the
/// null rules of the C++ functions do not arise here. Every function sets lumora_last_error().

#include <lumora/lumora_export.h>

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/// The bitwise AND of the two values. uf_bitand(12, 10) gives 8.
LUMORA_EXPORT uint32_t uf_bitand(uint32_t al_val1, uint32_t al_val2);

/// The bitwise OR of the two values. uf_bitor(12, 10) gives 14.
LUMORA_EXPORT uint32_t uf_bitor(uint32_t al_val1, uint32_t al_val2);

/// The bitwise XOR of the low 16 bits of the two values; bits 16 to 31 of the result are 0.
/// uf_bitxor(65537, 1) gives 0.
LUMORA_EXPORT uint32_t uf_bitxor(uint32_t al_val1, uint32_t al_val2);

/// `al_val` shifted left by `ai_bitcount` bits; 0 for a negative count or one of 32 and more.
/// uf_bitshl(3, 31) gives 2147483648.
LUMORA_EXPORT uint32_t uf_bitshl(uint32_t al_val, int16_t ai_bitcount);

/// `al_val` shifted right by `ai_bitcount` bits (logical shift); 0 for a count of 32 and more.
/// A negative count is a division by zero: the result is 0 and lumora_last_error() gives
/// lumora_division_by_zero. uf_bitshr(256, 4) gives 16.
LUMORA_EXPORT uint32_t uf_bitshr(uint32_t al_val, int16_t ai_bitcount);

#ifdef __cplusplus
}
#endif
