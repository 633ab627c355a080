// Interrupting database waits on POSIX systems: a flag and a pipe that becomes readable once
// waits are interrupted, so that every wait can poll it beside its socket.

#include <rt/db/interruption.h>
#include <rt/db/transaction_p.h>

#include <atomic>

#include <fcntl.h>
#include <unistd.h>

namespace rt {

namespace {

std::atomic<bool> interrupted{false};
int read_end = -1;
int write_end = -1;

// Made while the program starts, so that the signal handler never has to create it.
struct pipe_maker {
    pipe_maker()
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
            read_end = fds[0];
            write_end = fds[1];
        }
    }
} const make_pipe;

static_assert(std::atomic<bool>::is_always_lock_free, "used from a signal handler");

} // namespace

void interrupt_database_waits() noexcept
{
    // One byte, written once: the pipe stays readable until waits resume.
    if (!interrupted.exchange(true) && write_end >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(write_end, &byte, 1);
    }
}

bool database_waits_interrupted() noexcept
{
    return interrupted.load();
}

void resume_database_waits() noexcept
{
    if (!interrupted.exchange(false) || read_end < 0)
        return;
    char bytes[16];
    while (::read(read_end, bytes, sizeof bytes) > 0) {
    }
}

namespace detail {

int interruption_fd() noexcept
{
    return read_end;
}

} // namespace detail
} // namespace rt
