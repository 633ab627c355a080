#pragma once

#include <QString>

#include <optional>

namespace qorv {

/// The path of a file named by the update server inside `base`, or std::nullopt when the name
/// must not be written: empty, containing NUL, absolute, with a drive letter, with an empty, "."
/// or ".." component, or reaching outside `base` through a symbolic link. '/' and '\' both
/// separate directories. Directories are not created: a missing one is the caller's failure.
std::optional<QString> target_path(const QString& base, const QString& name);

} // namespace qorv
