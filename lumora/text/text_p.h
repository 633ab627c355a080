#pragma once

// Internals of the text services, shared by u_orlen_fun, u_orlen_md5 and the fuzz targets.
// The tests reach them through the object library; not installed.

#include <lumora/text/encoding.h>

#include <rt/value/decimal.h>

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <cstddef>
#include <cstdint>

namespace lumora::detail {

/// `value` written in base `base` (2 or more) by the base-conversion rules of u_orlen_fun::decto.
QString decto(const rt::decimal& value, std::uint16_t base);
/// The same for an integer; what decto() uses whenever the value fits.
QString decto_integer(std::int64_t value, std::uint16_t base);

/// `text` read in base `base` by the rules of u_orlen_fun::todec; throws rt::numeric_overflow when
/// the number is too large for a decimal.
rt::decimal todec(QStringView text, const rt::decimal& base);
/// The byte that a pair of characters gives in hexdecode: todec(pair, 16) truncated toward zero,
/// low eight bits kept. Equal to todec() for every pair, without decimal arithmetic.
std::uint8_t hex_pair_byte(QChar high, QChar low);

/// `base` raised to the integer power `exponent`; throws rt::division_by_zero for zero raised to
/// a negative power and rt::numeric_overflow for a result too large for a decimal (a result too
/// small for one is 0).
rt::decimal raised(rt::decimal base, std::int64_t exponent);

/// Text to bytes in `code`, without byte-order mark; an unknown code gives no bytes.
QByteArray to_bytes(QStringView text, encoding code);
/// Bytes in `code` to text, cut at the first U+0000; invalid sequences become U+FFFD.
QString from_bytes(QByteArrayView bytes, encoding code);

/// Asks the system to back a large buffer that is about to be filled with huge pages (a hint
/// that cuts the page faults of filling it tenfold where transparent huge pages are on request);
/// does nothing for a buffer under 4 MiB.
void prefer_huge_pages(void* data, std::size_t bytes);

/// Whether `path` starts with a drive: an ASCII letter followed by ":". Before any other
/// character a ":" is part of a name.
bool has_drive(QStringView path);

/// A file name of the data as a path of the host, the one reading of every function that takes
/// a file name: "\\" becomes "/", and a drive ("C:") stands for the root. A name that would then
/// start with ":" gets "./" in front, which Qt would otherwise read as one of its resources.
QString host_path(QStringView path);

} // namespace lumora::detail
