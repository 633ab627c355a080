// qorv_update: brings the installation in the working directory up to date from the update
// server named in its qorv.ini. See --help.

#include "connect_wait.h"
#include "connection.h"
#include "console_view.h"
#include "instance_lock.h"
#include "program_help.h"
#include "release_check.h"
#include "staged_install.h"
#include "stop_signals.h"
#include "texts.h"
#include "update_server.h"
#include "update_window.h"

#include <rt/db/transaction.h>
#include <rt/ui/messagebox.h>
#include <rt/ui/qt_translations.h>
#include <rt/value/decimal.h>
#include <rt/value/format_version.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QLibraryInfo>

#include <cstdio>
#include <memory>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#ifdef QORV_TEST_HOOKS
#include "test_hooks.h"
#endif

namespace {

enum exit_code {
    exit_ok = 0,
    exit_usage = 1,
    exit_no_connection = 2,
    exit_update_failed = 3,
    exit_already_running = 4,
    exit_no_lock = 5,
    exit_not_repaired = 6,
};

const char* const help_epilogue = R"(
Without an option the update window opens. The installation directory is the working
directory: qorv.ini is read there and every file is written below it.

Exit status:
  0  success (also: already up to date, or the window was closed normally)
  1  wrong command line
  2  the update server could not be reached, or the version check failed (a server
     that refuses the log-in for want of capacity is tried again for a while first)
  3  the update failed; every installed file and qorv.ini are as they were
     (--check: the newest version is not signed by the publisher key configured)
  4  another instance of qorv_update is running
  5  the single-instance lock could not be created (runtime directory unusable)
  6  an interrupted update could not be completed or undone; the files concerned are listed
)";

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
#ifdef __GLIBC__
    // A download passes through values of about 128 KiB that the database client allocates and
    // frees again for every megabyte. By default the C library hands such memory back to the
    // system at once and takes it again, at a page fault per 4 KiB: half the processor time of
    // a download. Freed memory stays in the process now, never more than was in use at once.
    mallopt(M_MMAP_THRESHOLD, 4 << 20);
    mallopt(M_TRIM_THRESHOLD, 32 << 20);
#endif
#ifdef QORV_TEST_HOOKS
    qorv::test::install_hooks();
#endif
    // Any argument means a mode without a window, or a wrong command line: no window is
    // attempted for either (there may be no display at all).
    std::unique_ptr<QCoreApplication> app;
    if (argc == 1) {
        app = std::make_unique<QApplication>(argc, argv);
        // The window's texts are Chinese whatever the locale; Qt's own (buttons, context menus)
        // follow them.
        if (!rt::install_qt_translations(*app))
            std::fprintf(stderr, "qorv_update: Qt's translations (%s) not found in %s\n",
                         qPrintable(rt::qt_language()),
                         qPrintable(QLibraryInfo::path(QLibraryInfo::TranslationsPath)));
    } else
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
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "qorv_update: unexpected argument '%s'\n%s",
                     qPrintable(parser.positionalArguments().first()),
                     qPrintable(QStringLiteral("Usage: qorv_update [--check | --update] [--help] "
                                               "[--version]\nTry 'qorv_update --help'.\n")));
        return exit_usage;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(qorv::help_text(parser, QStringLiteral("qorv_update"))), stdout);
        return exit_ok;
    }
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (parser.isSet(check) && parser.isSet(update)) {
        std::fprintf(stderr, "qorv_update: --check and --update exclude each other.\n");
        return exit_usage;
    }
    const bool window = !parser.isSet(check) && !parser.isSet(update);
    if (!window)
        rt::set_messagebox_handler(print_message);

    // One updater at a time per user.
    qorv::instance_lock instance;
    switch (instance.try_lock()) {
    case qorv::instance_lock::state::locked:
        break;
    case qorv::instance_lock::state::already_running:
        rt::messagebox(qorv::texts::title_attention, qorv::texts::already_running, rt::icon::stop);
        return exit_already_running;
    case qorv::instance_lock::state::failed:
        // The reason follows once, in the message.
        std::fprintf(stderr, "qorv_update: cannot create the single-instance lock\n");
        rt::messagebox(qorv::texts::title_error, qorv::texts::lock_failed(instance.error()),
                       rt::icon::stop);
        return exit_no_lock;
    }

    // The installation directory is the working directory, taken whole.
    const QString sys_path = QDir::currentPath();
    const QString ini_file = QDir(sys_path).filePath(QStringLiteral("qorv.ini"));

    // Before anything else reads the installation: an update interrupted by a crash, a kill or
    // a power cut is completed or undone.
    std::vector<qorv::install_problem> problems;
    switch (qorv::recover_install(sys_path, &problems)) {
    case qorv::recovery::none:
        break;
    case qorv::recovery::completed:
        std::fprintf(stderr, "qorv_update: an interrupted update was completed\n");
        break;
    case qorv::recovery::rolled_back:
        std::fprintf(stderr, "qorv_update: an interrupted update was undone\n");
        break;
    case qorv::recovery::incomplete:
        rt::messagebox(qorv::texts::title_error, qorv::texts::cleanup_failed(problems),
                       rt::icon::stop);
        return exit_not_repaired;
    }

    rt::transaction sqlca;
    qorv::update_server server(sqlca);
    const qorv::settings_cipher cipher;
    const qorv::raw_settings raw = qorv::read_settings(ini_file);
    // The window opens before the connection, so that it can show a wait for a busy server.
    std::unique_ptr<qorv::update_window> w;
    if (window)
        w = std::make_unique<qorv::update_window>(server, sys_path, ini_file);
    QString reason;
    qorv::connect_result connected;
    {
        const qorv::stop_signals stop;
        if (w) {
            connected = w->connect_server(raw, cipher, &reason);
        } else {
            qorv::console_wait view;
            connected = qorv::connect_waiting(sqlca, raw, cipher, view, &reason);
        }
    }
    if (connected == qorv::connect_result::cancelled) {
        // By a stop signal: end as that signal would have; by closing the window: quietly.
        sqlca.disconnect();
        qorv::stop_signals::reraise();
        return exit_no_connection;
    }
    if (connected == qorv::connect_result::failed) {
        std::fprintf(stderr, "qorv_update: cannot connect: %s\n", qPrintable(reason));
        rt::messagebox(qorv::texts::title_error,
                       qorv::texts::connect_failed(QStringLiteral(QORV_ADMIN_PHONE)),
                       rt::icon::stop);
        return exit_no_connection;
    }

    int status = exit_ok;
    bool stopped = false; // by a signal, with everything put back
    if (w) {
        qorv::update_window& w_update = *w;
        if (!w_update.check_versions(raw.ver)) {
            status = exit_no_connection;
        } else {
            w_update.show();
#ifdef QORV_TEST_HOOKS
            qorv::test::window_shown(w_update);
#endif
            status = QCoreApplication::exec();
            if (w_update.update_failed())
                status = exit_update_failed;
            stopped = qorv::stop_signals::received() != 0;
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
            // With a publisher key, --check also says whether the newest version would be taken.
            if (parser.isSet(check) && newest)
                if (const auto release = qorv::check_release(server, ini_file, newest_text)) {
                    std::printf("%s\n", qPrintable(release->line));
                    std::fflush(stdout);
                    if (!release->accepted)
                        status = exit_update_failed;
                }
            if (parser.isSet(update) && newest) {
                const qorv::stop_signals stop;
                qorv::console_view view;
                rt::set_messagebox_handler([&view](const rt::message& m) {
                    view.finish_line();
                    return print_message(m);
                });
                const qorv::job_result result =
                    qorv::run_update(server, newest_text, sys_path, ini_file, view);
                if (result != qorv::job_result::updated)
                    status = exit_update_failed;
                stopped = result == qorv::job_result::cancelled;
            }
        }
    }
    sqlca.disconnect();
    // Stopped by a signal: everything was put back; end as that signal would have.
    if (stopped)
        qorv::stop_signals::reraise();
    return status;
}
