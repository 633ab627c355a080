#include "stop_signals.h"

#include <rt/db/interruption.h>

#include <csignal>
#include <iterator>

namespace qorv {

namespace {

constexpr int stopping[] = {SIGTERM, SIGINT, SIGHUP};
volatile std::sig_atomic_t caught = 0;
// Scopes alive. Only the outermost one installs the handlers and puts back what was there
// before, so that an inner scope neither forgets the program's own handlers nor drops a signal
// that the outer scope has still to act on.
int depth = 0;
struct sigaction previous[std::size(stopping)];

void record(int signal)
{
    caught = signal;
    // A server that stopped answering must not hold the stop up.
    rt::interrupt_database_waits();
}

} // namespace

stop_signals::stop_signals()
{
    if (depth++ > 0)
        return;
    caught = 0;
    struct sigaction action = {};
    action.sa_handler = record;
    sigemptyset(&action.sa_mask);
    // Restarted system calls: a download in progress goes on to the next yield, which stops it.
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(stopping); ++i)
        sigaction(stopping[i], &action, &previous[i]);
}

stop_signals::~stop_signals()
{
    if (--depth > 0)
        return;
    for (std::size_t i = 0; i < std::size(stopping); ++i)
        sigaction(stopping[i], &previous[i], nullptr);
}

int stop_signals::received()
{
    return caught;
}

void stop_signals::reraise()
{
    if (caught == 0)
        return;
    std::signal(caught, SIG_DFL);
    std::raise(caught);
}

} // namespace qorv
