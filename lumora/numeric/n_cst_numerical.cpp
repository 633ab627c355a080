// The numerical service: the null forms, bit strings and sizes. The plain bit functions are
// inline in the header.

#include "n_cst_numerical.h"

#include <rt/ui/messagebox.h>
#include <rt/value/errors.h>

#include <QObject>

namespace lumora {

namespace {

std::uint32_t weight(std::uint16_t bit)
{
    return detail::bit_weight(bit);
}
constexpr std::uint32_t bits(std::int32_t value)
{
    return detail::bits_of(value);
}
using detail::long_of;

/// The value a single character of a bit string counts with: its digit, or 0 for anything that
/// is not a digit.
std::uint32_t digit_value(QChar c)
{
    const char16_t u = c.unicode();
    return u >= u'0' && u <= u'9' ? static_cast<std::uint32_t>(u - u'0') : 0u;
}

std::int32_t unsupported_type()
{
    rt::messagebox(QStringLiteral("of_SizeOf Error"),
                   QStringLiteral("Type is not supported, possibly variable sized or object type."),
                   rt::icon::stop, rt::buttons::ok);
    return -1;
}

} // namespace

// Single bits.

bool n_cst_numerical::of_getbit(std::optional<std::int32_t> al_decimal,
                                std::optional<std::uint16_t> aui_bit) const
{
    if (!aui_bit)
        return false;
    const std::uint32_t d = weight(*aui_bit);
    return al_decimal && (bits(*al_decimal) & d) != 0;
}

// The null forms of the single-bit updates. A null bit number has a null weight: the bit reads
// as not set, so setting (or flipping) adds a null and gives null, clearing leaves the value.
// A bit number out of range fails before the value is looked at.

namespace {

template <typename T, typename Update>
std::optional<T> null_form(std::optional<T> value, std::optional<std::uint16_t> bit,
                           std::optional<T> for_null_bit, Update update)
{
    if (!bit)
        return for_null_bit;
    weight(*bit);
    if (!value)
        return std::nullopt;
    return update(*value, *bit);
}

} // namespace

std::optional<std::int32_t> n_cst_numerical::of_setbit(std::optional<std::int32_t> al_decimal,
                                                       std::optional<std::uint16_t> aui_bit) const
{
    return null_form(al_decimal, aui_bit, std::optional<std::int32_t>(),
                     [this](std::int32_t v, std::uint16_t b) { return of_setbit(v, b); });
}

std::optional<std::int16_t> n_cst_numerical::of_setbit(std::optional<std::int16_t> ai_decimal,
                                                       std::optional<std::uint16_t> aui_bit) const
{
    return null_form(ai_decimal, aui_bit, std::optional<std::int16_t>(),
                     [this](std::int16_t v, std::uint16_t b) { return of_setbit(v, b); });
}

std::optional<std::int32_t> n_cst_numerical::of_clearbit(std::optional<std::int32_t> al_decimal,
                                                         std::optional<std::uint16_t> aui_bit) const
{
    return null_form(al_decimal, aui_bit, al_decimal,
                     [this](std::int32_t v, std::uint16_t b) { return of_clearbit(v, b); });
}

std::optional<std::int16_t> n_cst_numerical::of_clearbit(std::optional<std::int16_t> ai_decimal,
                                                         std::optional<std::uint16_t> aui_bit) const
{
    return null_form(ai_decimal, aui_bit, ai_decimal,
                     [this](std::int16_t v, std::uint16_t b) { return of_clearbit(v, b); });
}

std::optional<std::int32_t> n_cst_numerical::of_flipbit(std::optional<std::int32_t> al_decimal,
                                                        std::optional<std::uint16_t> aui_bit) const
{
    return null_form(al_decimal, aui_bit, std::optional<std::int32_t>(),
                     [this](std::int32_t v, std::uint16_t b) { return of_flipbit(v, b); });
}

std::optional<std::int16_t> n_cst_numerical::of_flipbit(std::optional<std::int16_t> ai_decimal,
                                                        std::optional<std::uint16_t> aui_bit) const
{
    return null_form(ai_decimal, aui_bit, std::optional<std::int16_t>(),
                     [this](std::int16_t v, std::uint16_t b) { return of_flipbit(v, b); });
}

// Bitwise combinations.

std::int32_t n_cst_numerical::of_bitwiseand(std::optional<std::int32_t> al_decimala,
                                            std::optional<std::int32_t> al_decimalb) const
{
    return of_bitwiseand(al_decimala.value_or(0), al_decimalb.value_or(0));
}

std::int16_t n_cst_numerical::of_bitwiseand(std::optional<std::int16_t> ai_decimala,
                                            std::optional<std::int16_t> ai_decimalb) const
{
    return of_bitwiseand(ai_decimala.value_or(std::int16_t{0}),
                         ai_decimalb.value_or(std::int16_t{0}));
}

std::int32_t n_cst_numerical::of_bitwiseor(std::optional<std::int32_t> al_decimala,
                                           std::optional<std::int32_t> al_decimalb) const
{
    return of_bitwiseor(al_decimala.value_or(0), al_decimalb.value_or(0));
}

std::int16_t n_cst_numerical::of_bitwiseor(std::optional<std::int16_t> ai_decimala,
                                           std::optional<std::int16_t> ai_decimalb) const
{
    return of_bitwiseor(ai_decimala.value_or(std::int16_t{0}),
                        ai_decimalb.value_or(std::int16_t{0}));
}

std::uint32_t n_cst_numerical::of_bitwiseor(const std::vector<std::uint32_t>& al_values) const
{
    // The element count is taken in full: an array of 32768 elements or more is no array of
    // fewer than two.
    if (al_values.size() < 2)
        return 4294967295u;
    std::uint32_t r = 0;
    for (const std::uint32_t v : al_values)
        r |= v;
    return r;
}

std::int32_t n_cst_numerical::of_bitwisexor(std::optional<std::int32_t> al_decimala,
                                            std::optional<std::int32_t> al_decimalb) const
{
    return of_bitwisexor(al_decimala.value_or(0), al_decimalb.value_or(0));
}

std::int16_t n_cst_numerical::of_bitwisexor(std::optional<std::int16_t> ai_decimala,
                                            std::optional<std::int16_t> ai_decimalb) const
{
    return of_bitwisexor(ai_decimala.value_or(std::int16_t{0}),
                         ai_decimalb.value_or(std::int16_t{0}));
}

std::int32_t n_cst_numerical::of_bitwisenot(std::optional<std::int32_t> al_decimal) const
{
    return of_bitwisenot(al_decimal.value_or(0));
}

std::int16_t n_cst_numerical::of_bitwisenot(std::optional<std::int16_t> ai_decimal) const
{
    return of_bitwisenot(ai_decimal.value_or(std::int16_t{0}));
}

// Bit strings.

QString n_cst_numerical::of_binary(std::int32_t al_decimal) const
{
    QString s(32, QLatin1Char('0'));
    std::uint32_t u = bits(al_decimal);
    for (qsizetype i = 0; i < 32; ++i, u >>= 1) {
        if (u & 1u)
            s[i] = QLatin1Char('1');
    }
    return s;
}

std::optional<QString> n_cst_numerical::of_binary(std::optional<std::int32_t> al_decimal) const
{
    if (!al_decimal)
        return std::nullopt;
    return of_binary(*al_decimal);
}

std::int32_t n_cst_numerical::of_decimal(const QString& as_binary) const
{
    const qsizetype length = as_binary.size();
    if (length == 0)
        return 0;
    const QChar last = as_binary[length - 1];
    std::uint32_t r = 0;
    for (qsizetype i = 0; i < 32; ++i) {
        const QChar c = i < length ? as_binary[i] : last;
        // value × 2^i modulo 2^32
        r += digit_value(c) << i;
    }
    return long_of(r);
}

std::optional<std::int32_t>
n_cst_numerical::of_decimal(const std::optional<QString>& as_binary) const
{
    if (!as_binary)
        return std::nullopt;
    return of_decimal(*as_binary);
}

// Sizes.

std::int32_t n_cst_numerical::of_sizeof(const QObject* apo_data) const
{
    if (!apo_data)
        throw rt::null_object_reference();
    return of_sizeof(variable_list(*apo_data->metaObject()));
}

std::int32_t n_cst_numerical::of_sizeof(const std::vector<QPointer<QObject>>& apo_data) const
{
    std::uint32_t total = 0;
    for (const QPointer<QObject>& object : apo_data) {
        const std::int32_t size = of_sizeof(object.data());
        // One object that cannot be measured makes the sum meaningless.
        if (size == -1)
            return -1;
        total += bits(size);
    }
    return long_of(total);
}

std::int32_t n_cst_numerical::of_sizeof(const std::vector<variable_definition>& avdf_data) const
{
    std::uint32_t total = 0;
    // The first entry stands for the definition itself and is not a variable.
    for (std::size_t i = 1; i < avdf_data.size(); ++i) {
        const variable_definition& v = avdf_data[i];
        // Only the upper bound of the first dimension counts.
        const std::int32_t n =
            v.array_definitions.empty() ? 1 : v.array_definitions.front().upper_bound;
        const QString& type = v.data_type;
        std::int32_t size = 0;
        if (type == u"long" || type == u"ulong" || type == u"unsignedlong") {
            size = of_sizeof(std::int32_t{});
        } else if (type == u"int" || type == u"integer") {
            size = of_sizeof(std::int16_t{});
        } else if (type == u"uint" || type == u"unsignedint" || type == u"unsignedinteger") {
            size = of_sizeof(std::uint16_t{});
        } else if (type == u"char" || type == u"character") {
            size = of_sizeof(QChar{});
        } else if (type == u"string") {
            size = of_sizeof(QString{});
        } else if (type == u"structure" && v.definition) {
            // A structure counts once, whatever its bounds.
            const std::int32_t nested = of_sizeof(variable_list(*v.definition));
            if (nested == -1)
                return -1;
            total += bits(nested);
            continue;
        } else {
            return unsupported_type();
        }
        total += bits(size) * bits(n);
    }
    return long_of(total);
}

std::int32_t n_cst_numerical::of_sizeof(const std::vector<QVariant>& aa_data) const
{
    std::uint32_t total = 0;
    for (const QVariant& value : aa_data) {
        const QString type = data_type_name(value.metaType());
        if (type == u"long" || type == u"unsignedlong" || type == u"ulong")
            total += 4;
        else if (type == u"int" || type == u"integer")
            total += 2;
        else if (type == u"uint" || type == u"unsignedinteger" || type == u"unsignedint")
            total += 2;
        else if (type == u"char" || type == u"character")
            total += 1;
        else if (type == u"string")
            total += bits(size_char * size_string);
        else if (type == u"boolean")
            total += 1;
    }
    return long_of(total);
}

} // namespace lumora
