#pragma once

#include <lumora/lumora_export.h>
#include <lumora/numeric/typeinfo.h>

#include <rt/value/errors.h>

#include <QChar>
#include <QPointer>
#include <QString>
#include <QVariant>

#include <concepts>
#include <cstdint>
#include <optional>
#include <vector>

class QObject;

namespace lumora {

namespace detail {

/// The weight of bit `bit` (1 to 32). Any other bit number is a power of two that truncates to
/// zero in 32 bits, and reading a bit divides by it: rt::division_by_zero.
constexpr std::uint32_t bit_weight(std::uint16_t bit)
{
    if (bit == 0 || bit > 32)
        throw rt::division_by_zero();
    return std::uint32_t{1} << (bit - 1);
}

// Conversions between the widths are the modular ones of C++20, so wrap-around is defined.
constexpr std::uint32_t bits_of(std::int32_t value)
{
    return static_cast<std::uint32_t>(value);
}
constexpr std::int32_t long_of(std::uint32_t value)
{
    return static_cast<std::int32_t>(value);
}
/// The low 16 bits as a signed number. A 16-bit value is handled sign-extended to 32 bits, so
/// bits 17 to 32 never reach the result.
constexpr std::int16_t integer_of(std::uint32_t value)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(value & 0xffffu));
}

} // namespace detail

/// Numerical service: bit access and bitwise operations on 16-bit and 32-bit integers, bit
/// strings, and the storage size of values, structures and objects.
///
/// Bits are numbered from 1 (least significant) to 32; the 16-bit forms address bits 1 to 16.
/// A bit number of 0 or of 33 and more throws rt::division_by_zero from every function that
/// takes one. A bit number of 17 to 32 given to a 16-bit form addresses a copy of bit 16 (the
/// value is sign-extended) and leaves the 16-bit value unchanged.
///
/// Every function comes in a plain form and in a form over std::optional, where an empty
/// optional is a null value: the single-bit updates, of_binary and of_decimal give null for a
/// null value, of_getbit gives false, and the bitwise combinations read a null as 0. A null bit
/// number reads as false in of_getbit, makes of_setbit and of_flipbit null and leaves the value
/// unchanged in of_clearbit. The overloads are chosen by the declared type of the value, as in
/// `of_setbit(std::int16_t{5}, 16)`.
///
/// Every bit function is the one machine operation that gives the same bit pattern as reading,
/// adding and subtracting powers of two would; the plain forms are inline.
///
/// The object has no state.
class LUMORA_EXPORT n_cst_numerical {
public:
    static constexpr std::int16_t size_boolean = 1;
    static constexpr std::int16_t size_char = 1;
    static constexpr std::int16_t size_int = 2;
    static constexpr std::int16_t size_uint = 2;
    static constexpr std::int16_t size_long = 4;
    static constexpr std::int16_t size_ulong = 4;
    static constexpr std::int16_t size_string = 4;

    /// Whether bit `aui_bit` of `al_decimal` is set. of_getbit(5, 1) is true, of_getbit(5, 2)
    /// false.
    bool of_getbit(std::int32_t al_decimal, std::uint16_t aui_bit) const
    {
        return (detail::bits_of(al_decimal) & detail::bit_weight(aui_bit)) != 0;
    }
    bool of_getbit(std::optional<std::int32_t> al_decimal,
                   std::optional<std::uint16_t> aui_bit) const;

    /// The value with bit `aui_bit` set. of_setbit(0, 32) is -2147483648.
    std::int32_t of_setbit(std::int32_t al_decimal, std::uint16_t aui_bit) const
    {
        return detail::long_of(detail::bits_of(al_decimal) | detail::bit_weight(aui_bit));
    }
    std::int16_t of_setbit(std::int16_t ai_decimal, std::uint16_t aui_bit) const
    {
        return detail::integer_of(detail::bits_of(ai_decimal) | detail::bit_weight(aui_bit));
    }
    std::optional<std::int32_t> of_setbit(std::optional<std::int32_t> al_decimal,
                                          std::optional<std::uint16_t> aui_bit) const;
    std::optional<std::int16_t> of_setbit(std::optional<std::int16_t> ai_decimal,
                                          std::optional<std::uint16_t> aui_bit) const;

    /// The value with bit `aui_bit` cleared. of_clearbit(-1, 32) is 2147483647.
    std::int32_t of_clearbit(std::int32_t al_decimal, std::uint16_t aui_bit) const
    {
        return detail::long_of(detail::bits_of(al_decimal) & ~detail::bit_weight(aui_bit));
    }
    std::int16_t of_clearbit(std::int16_t ai_decimal, std::uint16_t aui_bit) const
    {
        return detail::integer_of(detail::bits_of(ai_decimal) & ~detail::bit_weight(aui_bit));
    }
    std::optional<std::int32_t> of_clearbit(std::optional<std::int32_t> al_decimal,
                                            std::optional<std::uint16_t> aui_bit) const;
    std::optional<std::int16_t> of_clearbit(std::optional<std::int16_t> ai_decimal,
                                            std::optional<std::uint16_t> aui_bit) const;

    /// The value with bit `aui_bit` inverted. of_flipbit(6, 2) is 4.
    std::int32_t of_flipbit(std::int32_t al_decimal, std::uint16_t aui_bit) const
    {
        return detail::long_of(detail::bits_of(al_decimal) ^ detail::bit_weight(aui_bit));
    }
    std::int16_t of_flipbit(std::int16_t ai_decimal, std::uint16_t aui_bit) const
    {
        return detail::integer_of(detail::bits_of(ai_decimal) ^ detail::bit_weight(aui_bit));
    }
    std::optional<std::int32_t> of_flipbit(std::optional<std::int32_t> al_decimal,
                                           std::optional<std::uint16_t> aui_bit) const;
    std::optional<std::int16_t> of_flipbit(std::optional<std::int16_t> ai_decimal,
                                           std::optional<std::uint16_t> aui_bit) const;

    /// Bitwise AND; a null operand reads as 0, so the result is never null.
    std::int32_t of_bitwiseand(std::int32_t al_decimala, std::int32_t al_decimalb) const
    {
        return detail::long_of(detail::bits_of(al_decimala) & detail::bits_of(al_decimalb));
    }
    std::int16_t of_bitwiseand(std::int16_t ai_decimala, std::int16_t ai_decimalb) const
    {
        return detail::integer_of(detail::bits_of(ai_decimala) & detail::bits_of(ai_decimalb));
    }
    std::int32_t of_bitwiseand(std::optional<std::int32_t> al_decimala,
                               std::optional<std::int32_t> al_decimalb) const;
    std::int16_t of_bitwiseand(std::optional<std::int16_t> ai_decimala,
                               std::optional<std::int16_t> ai_decimalb) const;
    /// Operands of mixed widths (a 16-bit one with a 32-bit one or a literal) take the 32-bit
    /// form.
    template <std::integral A, std::integral B>
    requires(!(std::same_as<A, std::int16_t> && std::same_as<B, std::int16_t>)) std::int32_t
        of_bitwiseand(A al_decimala, B al_decimalb)
    const
    {
        return of_bitwiseand(static_cast<std::int32_t>(al_decimala),
                             static_cast<std::int32_t>(al_decimalb));
    }

    /// Bitwise OR; a null operand reads as 0.
    std::int32_t of_bitwiseor(std::int32_t al_decimala, std::int32_t al_decimalb) const
    {
        return detail::long_of(detail::bits_of(al_decimala) | detail::bits_of(al_decimalb));
    }
    std::int16_t of_bitwiseor(std::int16_t ai_decimala, std::int16_t ai_decimalb) const
    {
        return detail::integer_of(detail::bits_of(ai_decimala) | detail::bits_of(ai_decimalb));
    }
    std::int32_t of_bitwiseor(std::optional<std::int32_t> al_decimala,
                              std::optional<std::int32_t> al_decimalb) const;
    std::int16_t of_bitwiseor(std::optional<std::int16_t> ai_decimala,
                              std::optional<std::int16_t> ai_decimalb) const;
    /// Operands of mixed widths (a 16-bit one with a 32-bit one or a literal) take the 32-bit
    /// form.
    template <std::integral A, std::integral B>
    requires(!(std::same_as<A, std::int16_t> && std::same_as<B, std::int16_t>)) std::int32_t
        of_bitwiseor(A al_decimala, B al_decimalb)
    const
    {
        return of_bitwiseor(static_cast<std::int32_t>(al_decimala),
                            static_cast<std::int32_t>(al_decimalb));
    }
    /// Bitwise OR of all elements; 4294967295 for an array of fewer than two elements.
    /// \code
    /// of_bitwiseor(std::vector<std::uint32_t>{1, 2, 4}) == 7
    /// \endcode
    std::uint32_t of_bitwiseor(const std::vector<std::uint32_t>& al_values) const;

    /// Bitwise XOR; a null operand reads as 0.
    std::int32_t of_bitwisexor(std::int32_t al_decimala, std::int32_t al_decimalb) const
    {
        return detail::long_of(detail::bits_of(al_decimala) ^ detail::bits_of(al_decimalb));
    }
    std::int16_t of_bitwisexor(std::int16_t ai_decimala, std::int16_t ai_decimalb) const
    {
        return detail::integer_of(detail::bits_of(ai_decimala) ^ detail::bits_of(ai_decimalb));
    }
    std::int32_t of_bitwisexor(std::optional<std::int32_t> al_decimala,
                               std::optional<std::int32_t> al_decimalb) const;
    std::int16_t of_bitwisexor(std::optional<std::int16_t> ai_decimala,
                               std::optional<std::int16_t> ai_decimalb) const;
    /// Operands of mixed widths (a 16-bit one with a 32-bit one or a literal) take the 32-bit
    /// form.
    template <std::integral A, std::integral B>
    requires(!(std::same_as<A, std::int16_t> && std::same_as<B, std::int16_t>)) std::int32_t
        of_bitwisexor(A al_decimala, B al_decimalb)
    const
    {
        return of_bitwisexor(static_cast<std::int32_t>(al_decimala),
                             static_cast<std::int32_t>(al_decimalb));
    }

    /// Bitwise NOT; a null reads as 0, so of_bitwisenot of a null is -1.
    std::int32_t of_bitwisenot(std::int32_t al_decimal) const
    {
        return detail::long_of(~detail::bits_of(al_decimal));
    }
    std::int16_t of_bitwisenot(std::int16_t ai_decimal) const
    {
        return detail::integer_of(~detail::bits_of(ai_decimal));
    }
    std::int32_t of_bitwisenot(std::optional<std::int32_t> al_decimal) const;
    std::int16_t of_bitwisenot(std::optional<std::int16_t> ai_decimal) const;

    /// The 32 bits of the value as "0" and "1", least significant bit first.
    /// \code
    /// of_binary(5) == "10100000000000000000000000000000"
    /// \endcode
    QString of_binary(std::int32_t al_decimal) const;
    std::optional<QString> of_binary(std::optional<std::int32_t> al_decimal) const;

    /// A bit string (least significant bit first) back to a 32-bit value. A string shorter than
    /// 32 characters is extended with copies of its last character, so "101" is -3; characters
    /// after the 32nd are ignored; "" is 0. A digit 2 to 9 counts with its value times the
    /// bit's weight, any other character as 0; the sum wraps around in 32 bits.
    std::int32_t of_decimal(const QString& as_binary) const;
    std::optional<std::int32_t> of_decimal(const std::optional<QString>& as_binary) const;

    /// The storage size of a scalar of the runtime: the value itself does not matter.
    std::int32_t of_sizeof([[maybe_unused]] std::int32_t al_data) const { return size_long; }
    std::int32_t of_sizeof([[maybe_unused]] std::uint32_t aul_data) const { return size_ulong; }
    std::int32_t of_sizeof([[maybe_unused]] std::int16_t ai_data) const { return size_int; }
    std::int32_t of_sizeof([[maybe_unused]] std::uint16_t aui_data) const { return size_uint; }
    std::int32_t of_sizeof([[maybe_unused]] QChar ac_data) const { return size_char; }
    /// A C++ character literal ('a') is a character too, not an int.
    std::int32_t of_sizeof([[maybe_unused]] char ac_data) const { return size_char; }
    std::int32_t of_sizeof([[maybe_unused]] char16_t ac_data) const { return size_char; }
    std::int32_t of_sizeof([[maybe_unused]] const QString& as_data) const { return size_string; }
    /// A text literal is a string, not a pointer that converts to boolean.
    std::int32_t of_sizeof([[maybe_unused]] const char* as_data) const { return size_string; }
    std::int32_t of_sizeof([[maybe_unused]] const char16_t* as_data) const { return size_string; }
    /// Only a boolean itself: no pointer or number converts to it.
    template <std::same_as<bool> B> std::int32_t of_sizeof([[maybe_unused]] B ab_data) const
    {
        return size_boolean;
    }
    /// The size of a null scalar is that of its type.
    template <typename T>
    std::int32_t of_sizeof([[maybe_unused]] const std::optional<T>& data) const
    {
        return of_sizeof(T{});
    }

    /// The size of the object's variables: of_sizeof(variable_list(*apo_data->metaObject())).
    /// Throws rt::null_object_reference for a null object.
    std::int32_t of_sizeof(const QObject* apo_data) const;
    /// The sum of the objects' sizes; -1 as soon as one of them is -1. Throws
    /// rt::null_object_reference for a null or destroyed object.
    std::int32_t of_sizeof(const std::vector<QPointer<QObject>>& apo_data) const;

    /// The size of the variables of a variable list, without its first entry (which stands for
    /// the definition itself, see variable_list()). Each variable counts with the size of its
    /// data type times the upper bound of its first array dimension (1 for a scalar):
    ///
    /// | data type                                  | size |
    /// |--------------------------------------------|------|
    /// | "long", "ulong", "unsignedlong"            | 4    |
    /// | "int", "integer", "uint", "unsignedint", "unsignedinteger" | 2 |
    /// | "char", "character"                        | 1    |
    /// | "string"                                   | 4    |
    ///
    /// A "structure" counts once with the size of its own variable list. Any other data type
    /// ("boolean" included) shows the message box "of_SizeOf Error" (stop icon, OK; answered by
    /// the handler of host::set_messagebox_handler() when one is installed, and silent in a
    /// host without widgets) and makes the result -1; so does a nested structure that gives -1.
    /// The sums wrap around in 32 bits.
    std::int32_t of_sizeof(const std::vector<variable_definition>& avdf_data) const;

    /// The sum over the values by their type: long and ulong 4, integer and uint 2, char 1,
    /// string 4, boolean 1 (the names of data_type_name()); any other type, and an invalid
    /// QVariant, 0.
    std::int32_t of_sizeof(const std::vector<QVariant>& aa_data) const;
};

} // namespace lumora
