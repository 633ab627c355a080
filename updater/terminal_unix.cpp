#include "terminal.h"

#include <QtGlobal>

#include <sys/ioctl.h>
#include <unistd.h>

namespace qorv {

bool is_terminal(std::FILE* stream)
{
    return ::isatty(::fileno(stream)) != 0;
}

int terminal_columns(std::FILE* stream)
{
    struct winsize size = {};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    bool ok = false;
    const int columns = qEnvironmentVariableIntValue("COLUMNS", &ok);
    return ok && columns > 0 ? columns : 80;
}

} // namespace qorv
