#pragma once

// A bound for calls into an ODBC driver, which waits inside the driver where no time-out of
// ours reaches: psqlODBC sits in poll() for ever on a stalled transfer, and FreeTDS waits the
// query time-out a second time for the acknowledgement of its cancel.

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace rt::detail {

/// Watches one connection from a thread of its own. While armed, it waits for the deadline or
/// for database waits to be interrupted (see interruption.h); then it shuts the connection's
/// sockets down with shutdown(2), which makes the blocked call return at once with a
/// communication error. The sockets stay open (the driver closes them itself), so no
/// descriptor can be reused under the driver's hands. The connection is unusable afterwards.
///
/// Drivers give no access to their sockets, so they are found by difference: the sockets of
/// the process that appear while the driver connects belong to the connection. Connections are
/// therefore opened one at a time in the process, and each socket is remembered by its inode
/// and checked again before it is shut down. A socket that another thread opens at the same
/// moment would be taken for the connection's; this process opens none.
class driver_watchdog {
public:
    /// How an armed call ended.
    enum class outcome {
        answered,    ///< the call returned by itself
        timed_out,   ///< the deadline passed and the sockets were shut down
        interrupted, ///< database waits were interrupted and the sockets were shut down
    };

    driver_watchdog();
    ~driver_watchdog();
    driver_watchdog(const driver_watchdog&) = delete;
    driver_watchdog& operator=(const driver_watchdog&) = delete;

    /// Brackets the driver's log-in: the sockets that appear in between are the connection's.
    /// Holds the process-wide connect lock from begin_connect() to end_connect().
    void begin_connect();
    void end_connect();

    /// Arms for one call of at most `seconds`. Returns false, without arming, when database
    /// waits are interrupted already; the sockets are shut down then, so that a call made
    /// anyway (a disconnect) cannot block.
    bool arm(int seconds);
    /// Disarms after the call; tells whether the watchdog acted while it was armed.
    outcome disarm();

    /// Shuts the connection's sockets down now.
    void cut();

private:
    struct socket_id {
        int fd;
        dev_t dev;
        ino_t ino;
    };
    static std::vector<socket_id> open_sockets();
    void run();
    void shut_down(); // with mutex_ held

    std::mutex mutex_;
    std::thread thread_;
    bool quit_ = false;
    bool armed_ = false;
    bool connecting_ = false;
    outcome fired_ = outcome::answered;
    std::chrono::steady_clock::time_point deadline_;
    std::chrono::steady_clock::time_point waiting_until_; // the thread's current wake-up time
    std::vector<socket_id> before_;                       // the sockets open before the log-in
    std::vector<socket_id> sockets_;                      // the connection's
    int wake_[2] = {-1, -1};                              // a pipe that wakes the thread
    std::unique_lock<std::mutex> connect_lock_;
};

} // namespace rt::detail
