#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace rt {

/// INI file access with the platform's semantics: sections and keys are matched without regard
/// to case, blanks around names and values are ignored, and one pair of enclosing double quotes
/// is removed from a value when it is read. A missing file, section or key gives the default.
///
/// Files with the byte-order mark of UTF-16LE are read as UTF-16LE; other files as UTF-8 when they
/// are valid UTF-8 (a byte-order mark is skipped), otherwise in the ANSI code page (see
/// codepage.h). A file is written back in the encoding it was read in, with its byte-order mark,
/// and every line that a write does not change keeps its bytes.
QString profile_string(const QString& file, const QString& section, const QString& key,
                       const QString& default_value = {});

/// Sets `key` of `section` to `value`, keeping every other section, key, comment, blank line and
/// the order of lines; a missing section is appended, a missing key is added at the end of its
/// section. The file is replaced atomically (written beside it, then renamed). Returns 1 on
/// success and -1 on failure.
int set_profile_string(const QString& file, const QString& section, const QString& key,
                       const QString& value);

/// The bytes `file` would hold after set_profile_string() with the same arguments, without
/// writing anything; std::nullopt when that call would fail. For callers that replace the file
/// themselves, together with other files.
std::optional<QByteArray> profile_with(const QString& file, const QString& section,
                                       const QString& key, const QString& value);

} // namespace rt
