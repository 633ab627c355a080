// qorv_update: brings the installation in the working directory up to date from the update
// server named in its qorv.ini. See --help.

#include "connection.h"
#include "console_view.h"
#include "texts.h"
#include "update_server.h"
#include "update_window.h"

#include <rt/decimal.h>
#include <rt/messagebox.h>
#include <rt/transaction.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

#include <cstdio>
#include <memory>

namespace {

enum exit_code {
    exit_ok = 0,
    exit_usage = 1,
    exit_no_connection = 2,
    exit_update_failed = 3,
    exit_already_running = 4,
};

const char* const help_epilogue = R"(
Without an option the update window opens. The installation directory is the working
directory: qorv.ini is read there and every file is written below it.

Exit status:
  0  success (also: already up to date, or the window was closed normally)
  1  wrong command line
  2  the update server could not be reached, or the version check failed
  3  the update failed; every installed file and qorv.ini are as they were
  4  another instance of qorv_update is running
)";

bool wants_window(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (argv[i][0] == '-')
            return false;
    return true;
}

/// Message boxes of the modes without a window: notices on standard output, the rest on
/// standard error.
int print_message(const rt::message& m)
{
    std::FILE* out = m.icon == rt::icon::information ? stdout : stderr;
    std::fprintf(out, "%s: %s\n", qPrintable(m.title),
                 qPrintable(QString(m.text).replace(QChar(13), QChar(10))));
    std::fflush(out);
    return 1;
}

void report_database_error(const rt::transaction& sqlca)
{
    rt::messagebox(qorv::texts::title_database_error,
                   qorv::texts::database_error(sqlca.sqldbcode, sqlca.sqlerrtext), rt::icon::stop);
}

} // namespace

int main(int argc, char** argv)
{
    std::unique_ptr<QCoreApplication> app;
    if (wants_window(argc, argv))
        app = std::make_unique<QApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qorv_update"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QORV_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Brings the installation in the working directory up to date from its "
                       "update server.") +
        QString::fromUtf8(help_epilogue));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption check(
        QStringLiteral("check"),
        QStringLiteral("Print the installed and the newest version, then exit."));
    const QCommandLineOption update(QStringLiteral("update"),
                                    QStringLiteral("Install the newest version without a window, "
                                                   "with progress on the terminal."));
    parser.addOption(check);
    parser.addOption(update);
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "qorv_update: %s\nTry 'qorv_update --help'.\n",
                     qPrintable(parser.errorText()));
        return exit_usage;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(exit_ok);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (parser.isSet(check) && parser.isSet(update)) {
        std::fprintf(stderr, "qorv_update: --check and --update exclude each other.\n");
        return exit_usage;
    }
    const bool window = !parser.isSet(check) && !parser.isSet(update);
    if (!window)
        rt::set_messagebox_handler(print_message);

    // One updater at a time per user, in the user's runtime directory. A lock left by an
    // instance that was killed is recognised by its dead process and taken over.
    QString lock_dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (lock_dir.isEmpty())
        lock_dir = QDir::tempPath();
    QLockFile instance(QDir(lock_dir).filePath(QStringLiteral("qorv_update.lock")));
    instance.setStaleLockTime(0);
    if (!instance.tryLock(0)) {
        rt::messagebox(qorv::texts::title_attention, qorv::texts::already_running, rt::icon::stop);
        return exit_already_running;
    }

    // The installation directory is the working directory, taken whole.
    const QString sys_path = QDir::currentPath();
    const QString ini_file = QDir(sys_path).filePath(QStringLiteral("qorv.ini"));

    rt::transaction sqlca;
    qorv::update_server server(sqlca);
    const qorv::settings_cipher cipher;
    const qorv::raw_settings raw = qorv::read_settings(ini_file);
    QString reason;
    if (!qorv::connect_update_server(sqlca, raw, cipher, &reason)) {
        std::fprintf(stderr, "qorv_update: cannot connect: %s\n", qPrintable(reason));
        rt::messagebox(qorv::texts::title_error,
                       qorv::texts::connect_failed(QStringLiteral(QORV_ADMIN_PHONE)),
                       rt::icon::stop);
        return exit_no_connection;
    }

    int status = exit_ok;
    if (window) {
        qorv::update_window w(server, sys_path, ini_file);
        if (!w.check_versions(raw.ver)) {
            status = exit_no_connection;
        } else {
            w.show();
            status = QCoreApplication::exec();
        }
    } else {
        const rt::decimal local = rt::decimal::from_text(raw.ver).value_or(rt::decimal());
        const auto newest = server.newest_version(local);
        if (sqlca.sqlcode < 0) {
            report_database_error(sqlca);
            status = exit_no_connection;
        } else {
            const QString newest_text = rt::format_version(newest.value_or(rt::decimal()));
            std::printf("%s%s\n%s%s\n", qPrintable(qorv::texts::my_version), qPrintable(raw.ver),
                        qPrintable(qorv::texts::newest_version), qPrintable(newest_text));
            std::fflush(stdout);
            if (parser.isSet(update) && newest) {
                qorv::console_view view;
                rt::set_messagebox_handler([&view](const rt::message& m) {
                    view.finish_line();
                    return print_message(m);
                });
                if (qorv::run_update(server, newest_text, sys_path, ini_file, view) !=
                    qorv::job_result::updated)
                    status = exit_update_failed;
            }
        }
    }
    sqlca.disconnect();
    return status;
}
