// libFuzzer target for the base conversion number → text (u_orlen_fun::decto): any decimal
// number the runtime reads, any base.

#include "lumora_fuzz.h"

#include <lumora/text/u_orlen_fun.h>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto in = lumora_fuzz::split(data, size);
    const auto value = rt::decimal::from_text(in.text);
    if (!value)
        return 0;
    const lumora::u_orlen_fun fun;
    const QString text = fun.decto(*value, in.number);
    if (in.number < 2) {
        if (!text.isEmpty())
            std::abort();
        return 0;
    }
    // Non-negative integers come back exactly through todec in the bases of letters and digits,
    // as far as todec's decimal sums are exact (below 10^33 every term is).
    const bool exact_integer =
        value->scale() == 0 && *value >= rt::decimal(0) && value->to_text().size() <= 33;
    if (exact_integer && in.number <= 36 && fun.todec(text, rt::decimal(in.number)) != *value)
        std::abort();
    return 0;
}
