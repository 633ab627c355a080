// libFuzzer target for the base conversion text → number (u_orlen_fun::todec).

#include "lumora_fuzz.h"

#include <lumora/text/text_p.h>
#include <lumora/text/u_orlen_fun.h>

#include <rt/value/errors.h>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto in = lumora_fuzz::split(data, size);
    const lumora::u_orlen_fun fun;
    const rt::decimal base(static_cast<std::int16_t>(in.number));
    try {
        (void)fun.todec(in.text, base);
    } catch (const rt::division_by_zero&) {
        // A fraction in base 0: the runtime fault the function documents.
        if (base != rt::decimal(0))
            std::abort();
    } catch (const rt::numeric_overflow&) {
        // A number beyond the decimal range (many digits in a large base), as documented.
    }
    // The quick pair reading of hexdecode agrees with todec in base 16.
    if (in.text.size() >= 2) {
        const QStringView pair = QStringView(in.text).first(2);
        const auto whole = lumora::detail::todec(pair, rt::decimal(16)).truncated().to_int64();
        if (!whole || lumora::detail::hex_pair_byte(pair[0], pair[1]) != (*whole & 0xff))
            std::abort();
    }
    return 0;
}
