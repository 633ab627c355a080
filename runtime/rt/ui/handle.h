#pragma once

#include <cstdint>

namespace rt {

/// A numeric handle, the platform's way of naming a window, a menu or an icon across an
/// interface that speaks numbers (window messages, handles kept in `long` variables).
///
/// Handles are never 0 (0 means "none"), fit in 31 bits so that a signed 32-bit variable holds
/// them, and are not reused while the process runs (after about two thousand million handles
/// the numbering starts again, skipping handles still in use). The registry that hands them out
/// is in <rt/ui/handles.h>.
using handle = std::uint32_t;

/// What a handle names.
enum class handle_kind : std::uint8_t { none, window, menu, icon };

} // namespace rt
