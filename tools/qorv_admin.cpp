// qorv_admin: the administrator's side of the updater. Encrypts settings, writes qorv.ini,
// creates table t_file, publishes a version's files and lists the published versions.
// The commands live in command.cpp and the *_command(s).cpp files beside it.

#include "command.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qorv_admin"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QORV_VERSION));
    QTextStream out(stdout);
    QTextStream err(stderr);
    return qorv::admin::run_command_line(QCoreApplication::arguments().mid(1), out, err);
}
