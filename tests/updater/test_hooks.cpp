#include "test_hooks.h"

#include "connect_wait.h"
#include "install_step.h"
#include "update_window.h"

#include <rt/db/transaction_p.h>
#include <rt/ui/messagebox.h>

#include <QPushButton>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <unistd.h>

namespace qorv::test {

namespace {

int steps = 0;
int stop_at = 0;
int stop_signal = SIGKILL;

void count_step(const char*)
{
    if (++steps == stop_at)
        ::kill(::getpid(), stop_signal);
}

void print_steps()
{
    std::fprintf(stderr, "steps: %d\n", steps);
}

} // namespace

void install_hooks()
{
    if (const int seconds = qEnvironmentVariableIntValue("QORV_TEST_STATEMENT_TIMEOUT"))
        rt::detail::set_default_statement_timeout(seconds);
    bool wait_given = false;
    const int wait = qEnvironmentVariableIntValue("QORV_TEST_CONNECT_WAIT", &wait_given);
    if (wait_given)
        set_connect_wait_limit(std::chrono::seconds(wait));
    const QByteArray stop_point = qgetenv("QORV_TEST_STOP_AT");
    if (stop_point.isEmpty())
        return;
    stop_at = stop_point.split(':').first().toInt();
    if (stop_point.endsWith(":term"))
        stop_signal = SIGTERM;
    else if (stop_point.endsWith(":int"))
        stop_signal = SIGINT;
    else if (stop_point.endsWith(":hup"))
        stop_signal = SIGHUP;
    detail::set_step_hook(count_step);
    std::atexit(print_steps);
}

void window_shown(update_window& window)
{
    if (qgetenv("QORV_TEST_PRESS").isEmpty())
        return;
    rt::set_messagebox_handler([](const rt::message& m) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(m.title), qPrintable(m.text));
        return 1;
    });
    QTimer::singleShot(
        0, &window, [&window] { window.findChild<QPushButton*>(QStringLiteral("cb_1"))->click(); });
}

} // namespace qorv::test
