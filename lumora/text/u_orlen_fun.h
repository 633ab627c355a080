#pragma once

#include <lumora/lumora_export.h>
#include <lumora/text/encoding.h>

#include <rt/value/decimal.h>

#include <QString>
#include <QStringView>
#include <QVariant>

#include <cstdint>
#include <optional>
#include <vector>

class QWidget;

namespace lumora {

/// General functions: number-base conversion, exact powers, replace, split, sort, directory
/// creation, placing a grid at the mouse pointer, and the hexadecimal and URL encoders.
///
/// The object has no state; one instance serves any number of calls. A null argument is an
/// empty std::optional. Digits of the base conversions: 0-9, then A (10) to Z (35); larger digit
/// values continue with the characters after Z (code 55 + value). Nothing here throws except
/// where stated.
class LUMORA_EXPORT u_orlen_fun {
public:
    /// Brings `adw_control` to the front and moves its top-left corner to the mouse pointer, in
    /// its parent's coordinates (screen coordinates for a top-level widget).
    /// Throws rt::null_object_reference when `adw_control` is null.
    void move(QWidget* adw_control) const;

    /// Replaces every occurrence of `as_str1` in `as_text` by `as_str2`, left to right,
    /// case-sensitively; inserted text is never searched again. An empty `as_str1` changes
    /// nothing. Null rules: a null `as_text` gives null, a null `as_str1` gives `as_text`, a null
    /// `as_str2` gives null when `as_str1` occurs and `as_text` otherwise.
    std::optional<QString> replace(const std::optional<QString>& as_text,
                                   const std::optional<QString>& as_str1,
                                   const std::optional<QString>& as_str2) const;

    /// `ad_num` raised to the integer power `ad_power` in decimal arithmetic (0^0 is 1); null if
    /// either is null. Throws rt::division_by_zero for zero raised to a negative power, and
    /// rt::numeric_overflow when the result is too large for a decimal (beyond about 10^6144, as
    /// 10^7000 is); a result too small for one (10^-7000) is 0.
    std::optional<rt::decimal> power(const std::optional<rt::decimal>& ad_num,
                                     std::optional<std::int16_t> ad_power) const;

    /// A sorted copy of `a` by selection sort: ascending when `as_sort` is "asc", descending for
    /// any other value, null included. Numbers (integers, floating point, rt::decimal) compare
    /// by value, texts by UTF-16 code units; a comparison with a null or an incomparable value
    /// moves nothing. Among equal values the first found is taken.
    std::vector<QVariant> arraysort(std::vector<QVariant> a,
                                    const std::optional<QString>& as_sort) const;

    /// `as_num` read in base `ad_sys`; 0 when either is null. A leading "-" counts only when the
    /// whole text is a negative decimal number ("-101" in base 2 is -5, "-FF" is not negative).
    /// Letters are not folded ("a" is 42); digits are not checked against the base; one "." marks
    /// the fraction ("1.1" in base 2 is 1.5). Throws rt::division_by_zero for a fraction in base 0,
    /// and rt::numeric_overflow when the number is too large for a decimal (100,000 binary
    /// digits).
    rt::decimal todec(const std::optional<QString>& as_num,
                      const std::optional<rt::decimal>& ad_sys) const;

    /// `ad_dec` written in base `aui_sys`; "" when either is null or the base is below 2.
    /// Negative integers come back in decimal. At most ten fractional digits follow the point,
    /// each written as its decimal number (0.625 in base 16 gives "0.10").
    /// \code
    /// decto(255, 16) == "FF"; decto(35, 36) == "Z"; decto(-20, 16) == "-20"
    /// \endcode
    QString decto(const std::optional<rt::decimal>& ad_dec,
                  std::optional<std::uint16_t> aui_sys) const;

    /// Splits `as_text` at every `as_sep` into at most `ai_end` pieces (0: no limit). Touching
    /// separators give empty pieces; a text that is only a separator gives one empty piece; an
    /// empty separator gives the whole text as one piece. Empty when any argument is null.
    std::vector<QString> getsep(const std::optional<QString>& as_text,
                                const std::optional<QString>& as_sep,
                                std::optional<std::uint16_t> ai_end) const;

    /// Creates every directory of `as_filepath` and then the file itself, empty, if no file of
    /// that name exists. Both "\" and "/" separate; a drive letter (an ASCII letter and ":", as
    /// in "C:") stands for the root of the file system, while ":" after any other first character
    /// is part of a name. A path that starts with "\" gets its directories but never its file.
    /// Returns "" on success and for a null or blank path; otherwise the directory prefix that
    /// could not be created, or the trimmed path when the file could not be created.
    QString createpath(const std::optional<QString>& as_filepath) const;

    /// The bytes of `as_text` in `ae_encode` as upper-case hexadecimal digits, read as 16-bit
    /// units (first byte high) up to the first zero unit. A text of at most 50 characters goes
    /// through a zero-filled 100-byte buffer (bytes beyond the 100th are lost). In UTF-16 every
    /// unit gives four digits; in ANSI and UTF-8 a unit gives its digits without leading zeros,
    /// and only the first two when it ends in "00" (so a byte below 0x10 that starts a unit
    /// loses a digit). "" for a null text.
    /// \code
    /// hexencode(u"中", encoding::ansi) == "D6D0"; hexencode(u"a", encoding::utf16be) == "0061"
    /// \endcode
    QString hexencode(const std::optional<QString>& as_text, encoding ae_encode) const;
    /// The same as hexencode().
    QString hexstring(const std::optional<QString>& as_text, encoding ae_encode) const;

    /// Pairs of digits of `ac_text` (each pair read with todec() in base 16, keeping the low eight
    /// bits) as bytes in `ae_encode`, turned into text up to the first U+0000. A final unpaired
    /// digit is ignored; bytes invalid in the encoding become U+FFFD.
    QString hexdecode(QStringView ac_text, encoding ae_encode) const;

    /// Every character from U+4E00 upwards (a surrogate pair counting as one character) replaced
    /// by "%" and two digits per byte in `ae_encode`; every other character is kept as it is.
    QString urlencode(QStringView as_text, encoding ae_encode) const;

    /// The reverse of urlencode(): consecutive "%XX" groups are decoded together with
    /// hexdecode(), so a character split over several groups comes back whole. A "%" with fewer
    /// than two characters after it takes those that exist.
    QString urldecode(QStringView as_text, encoding ae_encode) const;
};

} // namespace lumora
