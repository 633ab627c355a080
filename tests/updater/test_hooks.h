#pragma once

// Hooks of qorv_update_hooked, the updater built for tests (main.cpp with QORV_TEST_HOOKS).

namespace qorv {
class update_window;
}

namespace qorv::test {

/// QORV_TEST_STOP_AT=N[:term|:int|:hup] sends the program SIGKILL (or the signal named) at the
/// N-th step of an
/// install that changes the disk. Whenever the variable is set, the number of steps taken is
/// printed on standard error at exit as "steps: N". QORV_TEST_STATEMENT_TIMEOUT=SECONDS
/// replaces the build's statement time-out, QORV_TEST_CONNECT_WAIT=SECONDS the time the log-in
/// keeps trying while the server refuses for capacity.
void install_hooks();

/// QORV_TEST_PRESS=1: messages are printed instead of shown in boxes, and the window's button is
/// pressed as soon as the window shows.
void window_shown(update_window& window);

} // namespace qorv::test
