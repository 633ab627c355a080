#pragma once

// The quick path of the ANSI conversion, behind codepage.h. Not installed.

#include <QByteArray>
#include <QStringView>

#include <optional>

namespace rt::detail {

/// The ICU name of code page 936, the one code page with a quick path.
inline constexpr const char* cp936_name = "windows-936-2000";

/// `text` in code page 936 through the table of every character of the Basic Multilingual Plane;
/// std::nullopt for a text holding a surrogate (the converter decides what a pair or a lone
/// surrogate becomes) or when the table could not be built.
std::optional<QByteArray> cp936_by_table(QStringView text);

} // namespace rt::detail
