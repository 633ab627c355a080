#pragma once

#include <lumora/lumora_export.h>

#include <QString>

#include <cstdint>
#include <optional>

namespace lumora {

/// A number written as text in upper-case hexadecimal. The text is read as a 32-bit integer
/// (fractions are cut off, a text that is not a number or lies outside 64 bits reads as 0) and
/// held unsigned, so -1 is FFFFFFFF. Results of 1 to 4 digits come back as they are; 5 to 7
/// digits are filled up to 8 characters from "678". Null gives null.
/// \code
/// strtohex(u"255") == "FF"; strtohex(u"74565") == "12345678"; strtohex(u"-1") == "FFFFFFFF"
/// \endcode
LUMORA_EXPORT std::optional<QString> strtohex(const std::optional<QString>& str_sz);

/// Full-width digits and letters, the full-width brackets, CJK brackets and punctuation, and the
/// ideographic space turned into their half-width ASCII forms (all three bracket pairs 〔〕 【】
/// 〖〗 become [ ], the ellipsis a single "-"); every other character, surrogate pairs included,
/// is kept. Null gives "".
LUMORA_EXPORT QString qj_bj(const std::optional<QString>& str1);

/// A spreadsheet cell address: column `c` as one or two letters (1 = A, 27 = AA, 702 = ZZ)
/// followed by row `r` in decimal. Columns above 702 continue past "Z" in the first character,
/// columns below 1 give the characters before "A" (codes wrap around at 16 bits).
LUMORA_EXPORT QString wf_wps_cell(std::int16_t c, std::int16_t r);

} // namespace lumora
