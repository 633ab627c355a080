#pragma once

// Whether output goes to a person. One implementation per platform (terminal_unix.cpp).

#include <cstdio>

namespace qorv {

/// True when `stream` writes to a terminal (so that a progress line may be redrawn in place);
/// false for files, pipes, and where the platform cannot tell.
bool is_terminal(std::FILE* stream);

} // namespace qorv
