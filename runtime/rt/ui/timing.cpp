#include <rt/ui/timing.h>

#include <QTimer>

#include <climits>
#include <cmath>

namespace rt {

struct timing::Private {
    QTimer clock;
    double seconds = 0;
};

timing::timing(QObject* parent) : QObject(parent), d(std::make_unique<Private>())
{
    // Intervals down to a few hundredths of a second are used, where a coarse timer's 5 %
    // slack would show.
    d->clock.setTimerType(Qt::PreciseTimer);
    connect(&d->clock, &QTimer::timeout, this, &timing::timer);
}

timing::~timing() = default;

bool timing::start(double seconds)
{
    if (!std::isfinite(seconds) || seconds <= 0)
        return false;
    const double ms = std::round(seconds * 1000);
    d->clock.start(ms < 1 ? 1 : ms > INT_MAX ? INT_MAX : static_cast<int>(ms));
    d->seconds = seconds;
    return true;
}

void timing::stop()
{
    d->clock.stop();
}

bool timing::running() const
{
    return d->clock.isActive();
}

double timing::interval() const
{
    return d->seconds;
}

} // namespace rt
