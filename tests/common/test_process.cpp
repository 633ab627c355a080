#include "test_process.h"

#include <QProcess>

namespace qorv::test {

process_result run_process(const QString& program, const QStringList& args, const QString& dir,
                           const QProcessEnvironment& env, int timeout_ms)
{
    QProcess p;
    if (!dir.isEmpty())
        p.setWorkingDirectory(dir);
    // An empty environment set on a process would clear it, not inherit this one.
    if (!env.isEmpty())
        p.setProcessEnvironment(env);
    p.start(program, args);
    return finish_process(p, timeout_ms);
}

process_result finish_process(QProcess& p, int timeout_ms)
{
    process_result r;
    const bool in_time = p.state() == QProcess::NotRunning || p.waitForFinished(timeout_ms);
    if (!in_time) {
        p.kill();
        p.waitForFinished();
    }
    if (in_time && p.error() != QProcess::FailedToStart && p.exitStatus() == QProcess::NormalExit)
        r.status = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

} // namespace qorv::test
