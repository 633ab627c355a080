#pragma once

// The checks of qorv_admin that decide what may be published, apart from the command line.

#include "human_size.h"

#include <QDir>
#include <QString>

#include <optional>

namespace qorv::admin {

/// A version number in plain decimal notation with at most three decimals and at most nine
/// digits before the point (the column holds numeric(12,3)), in the form the updater shows:
/// no leading zeros, no trailing zeros after the point but at least one decimal ("01.50" gives
/// "1.5", "2" gives "2.0").
/// std::nullopt with the reason in `why` for anything else (signs, exponents, blanks, "1.2345").
std::optional<QString> normalized_version(const QString& text, QString* why = nullptr);

/// The name under which `file` is published: its path relative to `base`, with '/' between
/// parts. `file` is taken relative to the working directory unless absolute. Refused (with the
/// reason in `why`) when the file is not a regular file, when its path leaves `base` (by "..",
/// by being elsewhere, or through a symbolic link that resolves outside `base`), or when the
/// name holds a character that Windows file names cannot hold or a part that the updater keeps
/// for itself (its journal and scratch files), or when the file is empty (the updater takes an
/// empty value for a failed download).
std::optional<QString> published_name(const QDir& base, const QString& file,
                                      QString* why = nullptr);

} // namespace qorv::admin
