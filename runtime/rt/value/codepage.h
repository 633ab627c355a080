#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <limits>
#include <optional>

namespace rt {

/// The ANSI code page: the text encoding of the platform's "A" interfaces and of outside
/// libraries. Windows code page 936 (ICU "windows-936-2000") unless set otherwise.
const char* ansi_codepage();
/// Sets the ANSI code page by ICU converter name; returns false (and keeps the current one) when
/// ICU does not know the name.
bool set_ansi_codepage(const char* icu_name);

/// Text to bytes in the ANSI code page; a character it lacks becomes '?'. Code page 936 goes
/// through a table of every character of the Basic Multilingual Plane, built once from the
/// converter, so it gives the converter's bytes at a fraction of its cost.
QByteArray to_ansi(QStringView text);
/// Bytes in the ANSI code page to text; an invalid sequence becomes U+FFFD.
QString from_ansi(QByteArrayView bytes);

/// `text` in the ANSI code page when it comes back unchanged from it; std::nullopt when it holds a
/// character the code page lacks (which to_ansi() would write as '?').
std::optional<QByteArray> to_ansi_lossless(QStringView text);
/// The characters of `text` that the ANSI code page lacks, each once, in the order they first
/// appear (a surrogate pair is one character); empty when to_ansi_lossless() succeeds.
QString ansi_missing_characters(QStringView text);

/// How many UTF-16 code units of `text` the longest beginning holds that has at most `max_chars`
/// characters and at most `max_bytes` bytes in the ANSI code page, cut after a whole character:
/// a double-byte character or a surrogate pair is never split. 0 when either limit is below 1.
/// \code
/// rt::ansi_cut_length(u"中文abc", 3); // 1: "中" is two bytes, "文" would make four
/// \endcode
qsizetype ansi_cut_length(QStringView text, qsizetype max_bytes,
                          qsizetype max_chars = std::numeric_limits<qsizetype>::max());
/// The ANSI bytes of that beginning: what a buffer of `max_bytes` + 1 bytes receives before its
/// terminating NUL.
QByteArray to_ansi_cut(QStringView text, qsizetype max_bytes,
                       qsizetype max_chars = std::numeric_limits<qsizetype>::max());

/// The same conversions for any ICU converter name; an unknown name gives an empty result.
QByteArray encode(QStringView text, const char* icu_name);
QString decode(QByteArrayView bytes, const char* icu_name);

} // namespace rt
