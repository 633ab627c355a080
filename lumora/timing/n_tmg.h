#pragma once

#include <lumora/lumora_export.h>

#include <QObject>

#include <cstdint>
#include <memory>
#include <optional>

namespace lumora {

class n_cst_tmgsingle;

/// A periodic timer that notifies one registered object: the runtime's timer with at most one
/// single-registration service (n_cst_tmgsingle) that it forwards every tick to.
///
/// Use: switch the service on with of_setsingle(true), then register an object, one of its
/// events (a signal, slot or invokable method without arguments, named case-insensitively) and
/// an interval in seconds on inv_single():
/// \code
/// lumora::n_tmg clock;
/// clock.of_setsingle(true);
/// clock.inv_single()->of_register(&window, QStringLiteral("ue_timer"), 1.0);
/// // window's ue_timer() now runs every second on the user-interface thread
/// \endcode
///
/// The timer owns its service; destroying the timer destroys the service. Everything runs on
/// the thread the timer lives in (the user-interface thread).
class LUMORA_EXPORT n_tmg : public QObject {
    Q_OBJECT

public:
    explicit n_tmg(QObject* parent = nullptr);
    /// Switches the service off (of_setsingle(false)) and stops the timer.
    ~n_tmg() override;

    /// Creates (true) or destroys (false) the single-registration service. Returns 1 when
    /// done, 0 when there was nothing to do (a service already exists, or none exists), -1 for
    /// a null argument. Destroying the service does not stop the timer: later ticks find no
    /// service and do nothing.
    std::int16_t of_setsingle(std::optional<bool> ab_switch);

    /// The single-registration service; null while there is none.
    n_cst_tmgsingle* inv_single() const;

    /// Starts (or restarts) the ticks every `seconds` seconds; false, and no change, for an
    /// interval that is not a positive number.
    bool start(double seconds);
    /// Stops the ticks.
    void stop();
    /// Whether the timer is running.
    bool running() const;
    /// The interval of the last start in seconds; 0 before the first.
    double interval() const;

signals:
    /// Emitted at every tick, after the service has been notified.
    void timer();

private:
    struct Private;
    std::unique_ptr<Private> const d;
};

} // namespace lumora
