#pragma once

// qorv_admin's commands run in the test's own process, as its main() runs them. Only for tests
// that link qorv_admin_core.

#include "command.h"
#include "test_process.h"

#include <QStringList>
#include <QTextStream>

namespace qorv::test {

/// Runs qorv_admin with `args` in this process: its exit status and what it printed.
inline process_result run_admin(const QStringList& args)
{
    process_result r;
    QTextStream out(&r.out);
    QTextStream err(&r.err);
    r.status = qorv::admin::run_command_line(args, out, err);
    return r;
}

} // namespace qorv::test
