#pragma once

#include <QObject>

#include <memory>

namespace rt {

/// The platform's timer class: once started, timer() is emitted periodically, on the thread the
/// object lives in (the user-interface thread), until stop() is called.
///
/// \code
/// rt::timing clock;
/// QObject::connect(&clock, &rt::timing::timer, [] { qDebug() << "tick"; });
/// clock.start(1.0); // every second
/// \endcode
class timing : public QObject {
    Q_OBJECT

public:
    explicit timing(QObject* parent = nullptr);
    ~timing() override;

    /// Starts (or restarts) the ticks every `seconds` seconds, counted from now. The interval
    /// is kept to the millisecond (at least 1 ms, at most about 24 days). Returns false, and
    /// changes nothing, for an interval that is not a positive finite number.
    bool start(double seconds);
    /// Stops the ticks; a stopped timer stays stopped.
    void stop();
    /// Whether the timer is running.
    bool running() const;
    /// The interval of the last successful start() in seconds; 0 before the first.
    double interval() const;

signals:
    /// One tick.
    void timer();

private:
    struct Private;
    std::unique_ptr<Private> const d;
};

} // namespace rt
