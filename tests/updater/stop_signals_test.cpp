// Stop signals caught while a scope of qorv::stop_signals lives, also when scopes nest.

#include "stop_signals.h"

#include <rt/db/interruption.h>

#include <QTest>

#include <csignal>

using namespace qorv;

namespace {

void own_handler(int) {}

using handler = void (*)(int);

handler current(int signal)
{
    struct sigaction now = {};
    sigaction(signal, nullptr, &now);
    return now.sa_handler;
}

} // namespace

class stop_signals_test : public QObject {
    Q_OBJECT

private slots:
    // The inner scope ends first: the signal it caught still stops the outer one, and when the
    // outer one ends the handlers in place before it are back.
    void nested_scopes_keep_the_signal_and_restore_the_handlers()
    {
        // QTest has handlers of its own for some signals: the ones in place before count.
        const handler term = current(SIGTERM);
        const handler interrupt = current(SIGINT);
        std::signal(SIGHUP, own_handler);
        {
            const stop_signals outer;
            {
                const stop_signals inner;
                std::raise(SIGTERM);
                QCOMPARE(stop_signals::received(), SIGTERM);
            }
            QCOMPARE(stop_signals::received(), SIGTERM);
            QVERIFY(current(SIGTERM) != term); // still caught
        }
        QVERIFY(current(SIGTERM) == term);
        QVERIFY(current(SIGINT) == interrupt);
        QVERIFY(current(SIGHUP) == own_handler);
        std::signal(SIGHUP, SIG_DFL);
        rt::resume_database_waits();

        // A new scope starts without the signal of the last one.
        const stop_signals again;
        QCOMPARE(stop_signals::received(), 0);
    }
};

QTEST_GUILESS_MAIN(stop_signals_test)
#include "stop_signals_test.moc"
