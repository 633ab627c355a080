#pragma once

#include <lumora/lumora_export.h>

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace lumora {

class n_tmg;

/// The single-registration service of a timer (n_tmg): it holds one registration (object,
/// event name, interval, notification style), starts and stops its timer, and raises the
/// registered event on the registered object at every tick. Registering again replaces the
/// registration.
///
/// Objects are passed as pointers; a null pointer stands for a null or destroyed object (pass
/// a QPointer's data()). Events are raised by name through Qt's meta-object system: a signal,
/// slot or Q_INVOKABLE method without arguments whose name matches case-insensitively; a name
/// the object lacks does nothing. Empty optionals are null values.
///
/// Created and owned by n_tmg::of_setsingle(); not meant to be created on its own.
class LUMORA_EXPORT n_cst_tmgsingle : public QObject {
    Q_OBJECT

public:
    /// The two notification styles: raise the event at once, or queue it. Constants of the
    /// header: where one is bound to a reference, every binary that does so carries its own
    /// hidden copy, so liblumora.so exports them in no build.
    LUMORA_NO_EXPORT static constexpr std::int16_t triggerevent = 0;
    LUMORA_NO_EXPORT static constexpr std::int16_t postevent = 1;

    explicit n_cst_tmgsingle(QObject* parent = nullptr);
    ~n_cst_tmgsingle() override;

    /// Registers `apo_object` and its event `as_eventname`, to be raised every `ar_interval`
    /// seconds (kept within 0.055 … 65), and restarts the timer. The four-argument form also
    /// sets the style (triggerevent or postevent); the three-argument form keeps the style.
    ///
    /// Returns 1, or -1 (nothing changed) when the object is null, the name is blank, the
    /// style is neither 0 nor 1, or no valid timer owns the service; checked in this order.
    /// A null name, interval or style is accepted; a null interval does not start the timer.
    std::int16_t of_register(QObject* apo_object, const std::optional<QString>& as_eventname,
                             std::optional<float> ar_interval);
    std::int16_t of_register(QObject* apo_object, const std::optional<QString>& as_eventname,
                             std::optional<float> ar_interval,
                             std::optional<std::int16_t> ai_style);

    /// Removes the registration and stops the timer: 1 removed, 0 nothing registered (timer
    /// left as it was), -1 no valid timer. The style is kept.
    std::int16_t of_unregister();

    /// Whether `apo_object` is the registered object (and, in the second form, `as_eventname`
    /// its registered event, compared after the same normalisation as at registration).
    bool of_isregistered(QObject* apo_object) const;
    bool of_isregistered(QObject* apo_object, const std::optional<QString>& as_eventname) const;

    /// Copies the registration into the four arguments and returns 1; returns 0 with a null
    /// object, an empty name, interval 0 and style 0 when nothing is registered.
    std::int16_t of_getregistered(QObject*& apo_registered, std::optional<QString>& as_eventname,
                                  std::optional<float>& ar_interval,
                                  std::optional<std::int16_t>& ai_style) const;

    /// 1 when an object is registered, else 0.
    std::int16_t of_getcount() const;
    /// The interval of the registration in seconds (0 when none; null after a null interval).
    std::optional<float> of_getinterval() const;

    /// Sets the timer this service starts and stops: 1, or -1 for a null timer.
    std::int16_t of_setrequestor(n_tmg* atmg_requestor);

    /// While disabled, ticks are ignored (the timer keeps running). 1, or -1 for null.
    std::int16_t of_setdisabled(std::optional<bool> ab_switch);
    bool of_isdisabled() const;

    /// With auto-disable (the default), ticks are ignored while a notification is being
    /// delivered, and the service is enabled again afterwards. 1, or -1 for null.
    std::int16_t of_setautodisable(std::optional<bool> ab_switch);
    bool of_isautodisable() const;

    /// One tick: returns 0 at once when disabled, else notifies the registered object and
    /// returns 1. Called by the owning timer.
    std::int16_t zel_timer();

    /// The registered event name in its stored (normalised) form.
    std::optional<QString> is_notifyevent() const;
    /// The notification style; null when registered with a null style.
    std::optional<std::int16_t> ii_notifystyle() const;

private:
    struct Private;
    std::unique_ptr<Private> const d;
};

} // namespace lumora
