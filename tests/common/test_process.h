#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

class QProcess;

namespace qorv::test {

/// How a program run ended and what it wrote.
struct process_result {
    int status = -1; ///< its exit status; -1 when it crashed, was killed or did not end in time
    QString out;     ///< standard output, read as UTF-8
    QString err;     ///< standard error, read as UTF-8
};

/// Runs `program` with `args` in the directory `dir` (this one when empty) with the environment
/// `env` (this process's when empty), waiting at most `timeout_ms`; a program still running
/// then is killed.
process_result run_process(const QString& program, const QStringList& args, const QString& dir = {},
                           const QProcessEnvironment& env = {}, int timeout_ms = 60000);

/// Waits at most `timeout_ms` for the started process `p` to end (killing it after that) and
/// collects its status and output.
process_result finish_process(QProcess& p, int timeout_ms = 60000);

} // namespace qorv::test
