#include "n_cst_tmgsingle.h"
#include "n_tmg.h"

#include <rt/ui/events.h>

#include <QPointer>

namespace lumora {

namespace {

constexpr float min_interval = 0.055f;
constexpr float max_interval = 65.0f;

// Leading and trailing blanks (spaces) removed; other white space stays.
QString trim_blanks(const QString& text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == QLatin1Char(' '))
        ++first;
    while (last > first && text.at(last - 1) == QLatin1Char(' '))
        --last;
    return text.mid(first, last - first);
}

std::optional<QString> normalised(const std::optional<QString>& name)
{
    if (!name)
        return std::nullopt;
    return trim_blanks(name->toLower());
}

} // namespace

struct n_cst_tmgsingle::Private {
    QPointer<QObject> ipo_notifyobject;
    std::optional<QString> is_notifyevent = QString();
    std::optional<std::int16_t> ii_notifystyle = triggerevent;
    bool ib_autodisable = true;
    bool ib_disabled = false;
    std::optional<float> ir_interval = 0.0f;
    QPointer<n_tmg> itmg_requestor;
};

n_cst_tmgsingle::n_cst_tmgsingle(QObject* parent) : QObject(parent), d(std::make_unique<Private>())
{
}

n_cst_tmgsingle::~n_cst_tmgsingle() = default;

std::int16_t n_cst_tmgsingle::of_register(QObject* apo_object,
                                          const std::optional<QString>& as_eventname,
                                          std::optional<float> ar_interval)
{
    return of_register(apo_object, as_eventname, ar_interval, d->ii_notifystyle);
}

std::int16_t n_cst_tmgsingle::of_register(QObject* apo_object,
                                          const std::optional<QString>& as_eventname,
                                          std::optional<float> ar_interval,
                                          std::optional<std::int16_t> ai_style)
{
    if (apo_object == nullptr)
        return -1;
    if (as_eventname && trim_blanks(*as_eventname).isEmpty())
        return -1;
    if (ai_style && *ai_style != triggerevent && *ai_style != postevent)
        return -1;
    if (!d->itmg_requestor)
        return -1;
    d->itmg_requestor->stop();
    if (ar_interval) {
        if (*ar_interval < min_interval)
            ar_interval = min_interval;
        else if (*ar_interval > max_interval)
            ar_interval = max_interval;
    }
    d->ipo_notifyobject = apo_object;
    d->is_notifyevent = normalised(as_eventname);
    d->ir_interval = ar_interval;
    d->ii_notifystyle = ai_style;
    // A null interval cannot start the timer; the registration still stands.
    if (ar_interval)
        d->itmg_requestor->start(static_cast<double>(*ar_interval));
    return 1;
}

std::int16_t n_cst_tmgsingle::of_unregister()
{
    if (!d->itmg_requestor)
        return -1;
    if (!d->ipo_notifyobject)
        return 0;
    d->ipo_notifyobject = nullptr;
    d->is_notifyevent = QString();
    d->ir_interval = 0.0f;
    d->itmg_requestor->stop();
    return 1;
}

bool n_cst_tmgsingle::of_isregistered(QObject* apo_object) const
{
    return apo_object != nullptr && d->ipo_notifyobject && d->ipo_notifyobject == apo_object;
}

bool n_cst_tmgsingle::of_isregistered(QObject* apo_object,
                                      const std::optional<QString>& as_eventname) const
{
    const std::optional<QString> name = normalised(as_eventname);
    if (!name || name->isEmpty() || !d->is_notifyevent)
        return false;
    return of_isregistered(apo_object) && *name == *d->is_notifyevent;
}

std::int16_t n_cst_tmgsingle::of_getregistered(QObject*& apo_registered,
                                               std::optional<QString>& as_eventname,
                                               std::optional<float>& ar_interval,
                                               std::optional<std::int16_t>& ai_style) const
{
    apo_registered = nullptr;
    as_eventname = QString();
    ar_interval = 0.0f;
    ai_style = std::int16_t{0};
    if (!d->ipo_notifyobject)
        return 0;
    apo_registered = d->ipo_notifyobject.data();
    as_eventname = d->is_notifyevent;
    ar_interval = d->ir_interval;
    ai_style = d->ii_notifystyle;
    return 1;
}

std::int16_t n_cst_tmgsingle::of_getcount() const
{
    return d->ipo_notifyobject ? 1 : 0;
}

std::optional<float> n_cst_tmgsingle::of_getinterval() const
{
    return d->ir_interval;
}

std::int16_t n_cst_tmgsingle::of_setrequestor(n_tmg* atmg_requestor)
{
    if (atmg_requestor == nullptr)
        return -1;
    d->itmg_requestor = atmg_requestor;
    return 1;
}

std::int16_t n_cst_tmgsingle::of_setdisabled(std::optional<bool> ab_switch)
{
    if (!ab_switch)
        return -1;
    d->ib_disabled = *ab_switch;
    return 1;
}

bool n_cst_tmgsingle::of_isdisabled() const
{
    return d->ib_disabled;
}

std::int16_t n_cst_tmgsingle::of_setautodisable(std::optional<bool> ab_switch)
{
    if (!ab_switch)
        return -1;
    d->ib_autodisable = *ab_switch;
    return 1;
}

bool n_cst_tmgsingle::of_isautodisable() const
{
    return d->ib_autodisable;
}

std::int16_t n_cst_tmgsingle::zel_timer()
{
    if (of_isdisabled())
        return 0;
    if (of_isautodisable())
        of_setdisabled(true);
    if (d->ipo_notifyobject && d->is_notifyevent && !trim_blanks(*d->is_notifyevent).isEmpty()) {
        // The handler may destroy this service (or its timer); nothing here may be touched
        // after that.
        const QPointer<n_cst_tmgsingle> self(this);
        const bool at_once = d->ii_notifystyle && *d->ii_notifystyle == triggerevent;
        rt::raise_event(d->ipo_notifyobject.data(), *d->is_notifyevent,
                        at_once ? rt::event_style::trigger : rt::event_style::post);
        if (!self)
            return 1;
    }
    if (of_isautodisable())
        of_setdisabled(false);
    return 1;
}

std::optional<QString> n_cst_tmgsingle::is_notifyevent() const
{
    return d->is_notifyevent;
}

std::optional<std::int16_t> n_cst_tmgsingle::ii_notifystyle() const
{
    return d->ii_notifystyle;
}

} // namespace lumora
