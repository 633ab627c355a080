#pragma once

#include "connection.h"

#include <QString>

#include <chrono>
#include <optional>

namespace rt {
class transaction;
}

namespace qorv {

/// The pauses between log-in attempts while the server refuses for capacity: exponential from
/// `first`, capped at `cap`, each drawn at random from the upper half of its step so that many
/// clients refused together do not return together, and none beyond `limit` after the start.
class connect_backoff {
public:
    using ms = std::chrono::milliseconds;
    explicit connect_backoff(ms limit, ms first = ms(500), ms cap = ms(8000));

    /// The pause before the next attempt when `elapsed` has passed since the first one began;
    /// std::nullopt when the time allowed is used up.
    std::optional<ms> next(ms elapsed);

private:
    ms limit_;
    ms step_;
    ms cap_;
};

/// What the log-in shows while it waits for a busy server, and how it is cancelled.
class connect_view {
public:
    virtual ~connect_view() = default;
    /// The server refused for capacity (`reason` is its text); retry `retry` follows in `pause`.
    virtual void waiting(int retry, std::chrono::milliseconds pause, const QString& reason) = 0;
    /// Lets input happen; false once the wait is cancelled (the window closed, a stop signal).
    virtual bool yield() = 0;
};

enum class connect_result {
    connected,
    failed,    ///< refused for another reason, or still busy when the time allowed was used up
    cancelled, ///< by the view or a stop signal while waiting
};

/// How long the log-in keeps trying while the server refuses for capacity: the build's
/// QORV_CONNECT_WAIT_SECONDS unless replaced (the test build shortens it).
std::chrono::seconds connect_wait_limit();
void set_connect_wait_limit(std::chrono::seconds limit);

/// connect_update_server(), tried again with connect_backoff while the server refuses the
/// log-in for want of capacity (see rt::transaction::refused_for_capacity()) until
/// connect_wait_limit() has passed; any other failure ends it at once. `retries` (if given)
/// receives the number of attempts after the first; `reason` the last failure's cause.
connect_result connect_waiting(rt::transaction& sqlca, const raw_settings& raw,
                               const settings_cipher& cipher, connect_view& view,
                               QString* reason = nullptr, int* retries = nullptr);

} // namespace qorv
