#pragma once

/// The five global bit functions on unsigned 32-bit values. They are inline and constexpr, so a
/// host's compiler turns each into the one machine operation it stands for; the C ABI offers the
/// same functions under the same names.
///
/// A null argument is an empty std::optional. Bits are numbered from 0 (least significant) to 31.

#include <rt/value/errors.h>

#include <cstdint>
#include <optional>

namespace lumora {

/// The bitwise AND of the two values; 0 when either is null.
/// \code
/// uf_bitand(12, 10) == 8
/// \endcode
constexpr std::uint32_t uf_bitand(std::optional<std::uint32_t> al_val1,
                                  std::optional<std::uint32_t> al_val2) noexcept
{
    return al_val1 && al_val2 ? *al_val1 & *al_val2 : 0u;
}

/// The bitwise OR of the two values; 0 (not null) when either is null.
/// \code
/// uf_bitor(12, 10) == 14; uf_bitor(std::nullopt, 5) == 0
/// \endcode
constexpr std::uint32_t uf_bitor(std::optional<std::uint32_t> al_val1,
                                 std::optional<std::uint32_t> al_val2) noexcept
{
    return al_val1 && al_val2 ? *al_val1 | *al_val2 : 0u;
}

/// The bitwise XOR of the low 16 bits of the two values; bits 16 to 31 of the result are always
/// 0. 0 when either is null.
/// \code
/// uf_bitxor(12, 10) == 6; uf_bitxor(65537, 1) == 0
/// \endcode
constexpr std::uint32_t uf_bitxor(std::optional<std::uint32_t> al_val1,
                                  std::optional<std::uint32_t> al_val2) noexcept
{
    return al_val1 && al_val2 ? (*al_val1 ^ *al_val2) & 0xffffu : 0u;
}

/// `al_val` shifted left by `ai_bitcount` bits; the bits shifted out are lost, so a count of 32
/// or more gives 0, and so does a negative count. Null when either argument is null.
/// \code
/// uf_bitshl(3, 31) == 2147483648u; uf_bitshl(5, -1) == 0
/// \endcode
constexpr std::optional<std::uint32_t> uf_bitshl(std::optional<std::uint32_t> al_val,
                                                 std::optional<std::int16_t> ai_bitcount) noexcept
{
    if (!al_val || !ai_bitcount)
        return std::nullopt;
    if (*ai_bitcount < 0 || *ai_bitcount > 31)
        return 0u;
    return *al_val << *ai_bitcount;
}

/// `al_val` shifted right by `ai_bitcount` bits, zeros coming in (a logical shift); a count of
/// 32 or more gives 0. Null when either argument is null. Throws rt::division_by_zero for a
/// negative count (the shift is a division by 2 raised to the count, which is then zero).
/// \code
/// uf_bitshr(256, 4) == 16; uf_bitshr(4294967295u, 30) == 3
/// \endcode
constexpr std::optional<std::uint32_t> uf_bitshr(std::optional<std::uint32_t> al_val,
                                                 std::optional<std::int16_t> ai_bitcount)
{
    if (!al_val || !ai_bitcount)
        return std::nullopt;
    if (*ai_bitcount < 0)
        throw rt::division_by_zero();
    if (*ai_bitcount > 31)
        return 0u;
    return *al_val >> *ai_bitcount;
}

} // namespace lumora
