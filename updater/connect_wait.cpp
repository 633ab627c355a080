#include "connect_wait.h"

#include "stop_signals.h"

#include <rt/db/interruption.h>
#include <rt/db/transaction.h>

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QThread>

#include <algorithm>
#include <atomic>

namespace qorv {

namespace {
std::atomic<int> wait_limit_seconds{QORV_CONNECT_WAIT_SECONDS};

/// How often a pause lets input and stop signals through.
constexpr std::chrono::milliseconds slice(50);
} // namespace

connect_backoff::connect_backoff(ms limit, ms first, ms cap)
    : limit_(limit), step_(first), cap_(cap)
{
}

std::optional<connect_backoff::ms> connect_backoff::next(ms elapsed)
{
    const ms left = limit_ - elapsed;
    if (left <= ms(0))
        return std::nullopt;
    const auto half = step_.count() / 2;
    const ms pause(half + QRandomGenerator::global()->bounded(qint64(half) + 1));
    step_ = std::min(step_ * 2, cap_);
    // The last attempt comes when the time allowed ends, not after it.
    return std::min(pause, left);
}

std::chrono::seconds connect_wait_limit()
{
    return std::chrono::seconds(wait_limit_seconds.load());
}

void set_connect_wait_limit(std::chrono::seconds limit)
{
    if (limit.count() >= 0)
        wait_limit_seconds = int(limit.count());
}

connect_result connect_waiting(rt::transaction& sqlca, const raw_settings& raw,
                               const settings_cipher& cipher, connect_view& view, QString* reason,
                               int* retries)
{
    using std::chrono::milliseconds;
    QElapsedTimer clock;
    clock.start();
    connect_backoff backoff(connect_wait_limit());
    if (retries)
        *retries = 0;
    for (int retry = 1;; ++retry) {
        QString why;
        if (connect_update_server(sqlca, raw, cipher, &why))
            return connect_result::connected;
        if (reason)
            *reason = why;
        if (stop_signals::received() != 0)
            return connect_result::cancelled;
        if (!sqlca.refused_for_capacity())
            return connect_result::failed;
        const auto pause = backoff.next(milliseconds(clock.elapsed()));
        if (!pause)
            return connect_result::failed;
        view.waiting(retry, *pause, why);
        QElapsedTimer paused;
        paused.start();
        for (;;) {
            if (!view.yield() || stop_signals::received() != 0 || rt::database_waits_interrupted())
                return connect_result::cancelled;
            const milliseconds left = *pause - milliseconds(paused.elapsed());
            if (left <= milliseconds(0))
                break;
            QThread::msleep(static_cast<unsigned long>(std::min(left, slice).count()));
        }
        if (retries)
            *retries = retry;
    }
}

} // namespace qorv
