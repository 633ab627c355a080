// libFuzzer target for u_orlen_fun::urldecode: any text in any encoding.

#include "lumora_fuzz.h"

#include <lumora/text/u_orlen_fun.h>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto in = lumora_fuzz::split(data, size);
    const lumora::u_orlen_fun fun;
    const QString decoded = fun.urldecode(in.text, in.code);
    // Without an escape nothing changes.
    if (!in.text.contains(u'%') && decoded != in.text)
        std::abort();
    // Escaped text decodes back in the Unicode encodings.
    if (in.code != lumora::encoding::ansi && !in.text.contains(u'%') &&
        lumora_fuzz::well_formed(in.text) &&
        fun.urldecode(fun.urlencode(in.text, in.code), in.code) != in.text)
        std::abort();
    return 0;
}
