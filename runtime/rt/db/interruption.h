#pragma once

namespace rt {

/// Ends every wait on a database server in this process at once, and every later one before it
/// starts: the statement, piece read or log-in fails with sqlcode -1 and a text saying that it
/// was interrupted, and the connection is closed. Safe to call from a signal handler; a stop
/// signal's handler calls it so that a stalled server cannot delay the program's end.
void interrupt_database_waits() noexcept;

/// True once interrupt_database_waits() was called and until resume_database_waits().
bool database_waits_interrupted() noexcept;

/// Lets database waits run again (for a program that goes on after an interruption).
void resume_database_waits() noexcept;

} // namespace rt
