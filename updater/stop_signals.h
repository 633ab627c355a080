#pragma once

namespace qorv {

/// While an object of this class lives, SIGTERM, SIGINT and SIGHUP do not end the program at
/// once: the signal is recorded, and the update procedure stops at its next yield as if its
/// window had been closed, leaving the installation as it was.
class stop_signals {
public:
    stop_signals();
    /// Restores the handlers that were in place before.
    ~stop_signals();
    stop_signals(const stop_signals&) = delete;
    stop_signals& operator=(const stop_signals&) = delete;

    /// The signal received while an object lived, or 0.
    static int received();
    /// When a signal was received: ends the program by it, with its default action, so that the
    /// parent sees the program ended by that signal. Otherwise does nothing.
    static void reraise();
};

} // namespace qorv
