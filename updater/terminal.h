#pragma once

// Whether output goes to a person, and how wide their terminal is. One implementation per
// platform (terminal_unix.cpp).

#include <cstdio>

namespace qorv {

/// True when `stream` writes to a terminal (so that a progress line may be redrawn in place);
/// false for files, pipes, and where the platform cannot tell.
bool is_terminal(std::FILE* stream);

/// The width in columns of the terminal `stream` writes to; without one the environment's
/// COLUMNS, and 80 without that.
int terminal_columns(std::FILE* stream);

} // namespace qorv
