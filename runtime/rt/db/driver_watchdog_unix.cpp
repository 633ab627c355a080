#include <rt/db/driver_watchdog.h>

#include <rt/db/interruption.h>
#include <rt/db/transaction_p.h>

#include <algorithm>
#include <cstdlib>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rt::detail {

namespace {

// Log-ins one at a time, so that the sockets appearing during one belong to it.
std::mutex connect_mutex;

} // namespace

driver_watchdog::driver_watchdog()
{
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0)
        wake_[0] = wake_[1] = -1;
    waiting_until_ = std::chrono::steady_clock::time_point::max();
    thread_ = std::thread([this] { run(); });
}

driver_watchdog::~driver_watchdog()
{
    {
        const std::lock_guard lock(mutex_);
        quit_ = true;
    }
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = ::write(wake_[1], &byte, 1);
    thread_.join();
    for (int fd : wake_)
        if (fd >= 0)
            ::close(fd);
}

std::vector<driver_watchdog::socket_id> driver_watchdog::open_sockets()
{
    std::vector<socket_id> sockets;
    DIR* dir = ::opendir("/dev/fd");
    if (dir == nullptr)
        return sockets;
    while (const dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        struct stat st = {};
        if (end == entry->d_name || *end != '\0' || fd == ::dirfd(dir) ||
            ::fstat(int(fd), &st) != 0 || !S_ISSOCK(st.st_mode))
            continue;
        sockets.push_back({int(fd), st.st_dev, st.st_ino});
    }
    ::closedir(dir);
    return sockets;
}

void driver_watchdog::begin_connect()
{
    connect_lock_ = std::unique_lock(connect_mutex);
    const auto sockets = open_sockets();
    const std::lock_guard lock(mutex_);
    before_ = sockets;
    sockets_.clear();
    connecting_ = true;
}

void driver_watchdog::end_connect()
{
    const auto now = open_sockets();
    {
        const std::lock_guard lock(mutex_);
        sockets_.clear();
        for (const socket_id& s : now)
            if (std::none_of(before_.begin(), before_.end(),
                             [&](const socket_id& b) { return b.dev == s.dev && b.ino == s.ino; }))
                sockets_.push_back(s);
        connecting_ = false;
    }
    connect_lock_ = {};
}

bool driver_watchdog::arm(int seconds)
{
    std::unique_lock lock(mutex_);
    fired_ = outcome::answered;
    if (database_waits_interrupted()) {
        shut_down();
        fired_ = outcome::interrupted;
        return false;
    }
    armed_ = true;
    deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    // A thread that waits for an earlier deadline anyway need not be woken: disarming does
    // not wake it either, so that a call costs no context switch.
    const bool wake = deadline_ < waiting_until_;
    lock.unlock();
    if (wake) {
        const char byte = 0;
        [[maybe_unused]] const ssize_t n = ::write(wake_[1], &byte, 1);
    }
    return true;
}

driver_watchdog::outcome driver_watchdog::disarm()
{
    const std::lock_guard lock(mutex_);
    armed_ = false;
    return std::exchange(fired_, outcome::answered);
}

void driver_watchdog::cut()
{
    const std::lock_guard lock(mutex_);
    shut_down();
}

void driver_watchdog::shut_down()
{
    if (connecting_) { // the log-in's sockets so far
        for (const socket_id& s : open_sockets())
            if (std::none_of(before_.begin(), before_.end(),
                             [&](const socket_id& b) { return b.dev == s.dev && b.ino == s.ino; }))
                sockets_.push_back(s);
    }
    for (const socket_id& s : sockets_) {
        struct stat st = {};
        if (::fstat(s.fd, &st) == 0 && st.st_dev == s.dev && st.st_ino == s.ino)
            ::shutdown(s.fd, SHUT_RDWR);
    }
}

void driver_watchdog::run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        if (quit_)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (armed_) {
            outcome why = outcome::answered;
            if (database_waits_interrupted())
                why = outcome::interrupted;
            else if (now >= deadline_)
                why = outcome::timed_out;
            if (why != outcome::answered) {
                shut_down();
                fired_ = why;
                armed_ = false;
            }
        }
        // Idle: sleep until woken. Armed: until the deadline, or a stop request, which keeps
        // the interruption pipe readable (so it is watched only while armed).
        waiting_until_ = armed_ ? deadline_ : std::chrono::steady_clock::time_point::max();
        const int timeout =
            armed_ ? int(std::max<std::int64_t>(
                         std::chrono::ceil<std::chrono::milliseconds>(deadline_ - now).count(), 0))
                   : -1;
        pollfd fds[2] = {{wake_[0], POLLIN, 0}, {armed_ ? interruption_fd() : -1, POLLIN, 0}};
        lock.unlock();
        ::poll(fds, 2, timeout);
        char bytes[64];
        while (::read(wake_[0], bytes, sizeof bytes) > 0) {
        }
        lock.lock();
    }
}

} // namespace rt::detail
