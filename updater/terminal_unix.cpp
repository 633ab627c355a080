#include "terminal.h"

#include <unistd.h>

namespace qorv {

bool is_terminal(std::FILE* stream)
{
    return ::isatty(::fileno(stream)) != 0;
}

} // namespace qorv
