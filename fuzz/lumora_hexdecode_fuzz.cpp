// libFuzzer target for u_orlen_fun::hexdecode: any digits in any encoding.

#include "lumora_fuzz.h"

#include <lumora/text/u_orlen_fun.h>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto in = lumora_fuzz::split(data, size);
    const lumora::u_orlen_fun fun;
    const QString text = fun.hexdecode(in.text, in.code);
    // The text ends before the first U+0000.
    if (text.contains(QChar(0)))
        std::abort();
    // In UTF-16 every unit has four digits, so any text comes back from its own digits.
    if ((in.code == lumora::encoding::utf16be || in.code == lumora::encoding::utf16le) &&
        lumora_fuzz::well_formed(in.text) &&
        fun.hexdecode(fun.hexencode(in.text, in.code), in.code) != in.text)
        std::abort();
    return 0;
}
