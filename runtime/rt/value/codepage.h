#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace rt {

/// The ANSI code page: the text encoding of the platform's "A" interfaces and of outside
/// libraries. Windows code page 936 (ICU "windows-936-2000") unless set otherwise.
const char* ansi_codepage();
/// Sets the ANSI code page by ICU converter name; returns false (and keeps the current one) when
/// ICU does not know the name.
bool set_ansi_codepage(const char* icu_name);

/// Text to bytes in the ANSI code page; a character it lacks becomes '?'.
QByteArray to_ansi(QStringView text);
/// Bytes in the ANSI code page to text; an invalid sequence becomes U+FFFD.
QString from_ansi(QByteArrayView bytes);

/// The same conversions for any ICU converter name; an unknown name gives an empty result.
QByteArray encode(QStringView text, const char* icu_name);
QString decode(QByteArrayView bytes, const char* icu_name);

} // namespace rt
