#include "n_tmg.h"
#include "n_cst_tmgsingle.h"

#include <rt/ui/timing.h>

#include <QPointer>

namespace lumora {

struct n_tmg::Private {
    rt::timing clock;
    QPointer<n_cst_tmgsingle> inv_single;
};

n_tmg::n_tmg(QObject* parent) : QObject(parent), d(std::make_unique<Private>())
{
    connect(&d->clock, &rt::timing::timer, this, [this] {
        // A handler may destroy this timer from inside the notification.
        const QPointer<n_tmg> self(this);
        if (n_cst_tmgsingle* single = d->inv_single.data())
            single->zel_timer();
        if (self)
            emit timer();
    });
}

n_tmg::~n_tmg()
{
    of_setsingle(false);
    d->clock.stop();
}

std::int16_t n_tmg::of_setsingle(std::optional<bool> ab_switch)
{
    if (!ab_switch)
        return -1;
    if (*ab_switch) {
        if (d->inv_single)
            return 0;
        d->inv_single = new n_cst_tmgsingle(this);
        d->inv_single->of_setrequestor(this);
        return 1;
    }
    if (!d->inv_single)
        return 0;
    delete d->inv_single.data();
    return 1;
}

n_cst_tmgsingle* n_tmg::inv_single() const
{
    return d->inv_single.data();
}

bool n_tmg::start(double seconds)
{
    return d->clock.start(seconds);
}

void n_tmg::stop()
{
    d->clock.stop();
}

bool n_tmg::running() const
{
    return d->clock.running();
}

double n_tmg::interval() const
{
    return d->clock.interval();
}

} // namespace lumora
