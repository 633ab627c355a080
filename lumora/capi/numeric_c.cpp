// The bit functions in the C ABI.

#include "capi_p.h"

#include <lumora/lumora_c.h>
#include <lumora/numeric/bitops.h>

using lumora::detail::capi_guarded;

extern "C" {

uint32_t uf_bitand(uint32_t al_val1, uint32_t al_val2)
{
    return capi_guarded(0u, [&] { return lumora::uf_bitand(al_val1, al_val2); });
}

uint32_t uf_bitor(uint32_t al_val1, uint32_t al_val2)
{
    return capi_guarded(0u, [&] { return lumora::uf_bitor(al_val1, al_val2); });
}

uint32_t uf_bitxor(uint32_t al_val1, uint32_t al_val2)
{
    return capi_guarded(0u, [&] { return lumora::uf_bitxor(al_val1, al_val2); });
}

uint32_t uf_bitshl(uint32_t al_val, int16_t ai_bitcount)
{
    return capi_guarded(0u, [&] { return *lumora::uf_bitshl(al_val, ai_bitcount); });
}

uint32_t uf_bitshr(uint32_t al_val, int16_t ai_bitcount)
{
    return capi_guarded(0u, [&] { return *lumora::uf_bitshr(al_val, ai_bitcount); });
}

} // extern "C"
