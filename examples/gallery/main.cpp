// lumora_gallery: a host window that shows lumora's services at work, open until it is closed;
// with --export, both grid exports of the sample candidates written to a directory without a
// window.

#include "w_gallery.h"

#include <lumora/controls/u_statusbar.h>

#include <rt/ui/qt_translations.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>

#include <cstdio>
#include <cstring>

namespace {

const char* const help_text = R"(Usage: lumora_gallery [--export DIR [--overwrite]] [--help]

Without an option the gallery window opens: lumora's menu with micro-help in its status bar,
the tooltip-aware inputs filtering a grid of 300 sample candidates, both grid exports, an MD5
box, the encoders and base conversion.

  --export DIR   Write both grid exports of the 300 candidates to DIR without a window:
                 考生成绩.xlsx (through the spreadsheet automation server) and
                 考生成绩（显示内容）.xlsx (the display texts). The message boxes are printed.
                 A workbook that exists already is left as it is and reported, and the exit
                 status is 1, unless --overwrite is given.
  --overwrite    With --export: replace workbooks that exist (each is named as it is replaced).
  --help         Show this text.

Exit status: 0 success, 1 an export not written (or a wrong command line).
)";

bool has_argument(int argc, char** argv, const char* name)
{
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], name, std::strlen(name)) == 0)
            return true;
    return false;
}

/// Both exports into `dir`; the message boxes printed and answered: Yes to "replace?" only with
/// `overwrite`.
int export_to(w_gallery& window, const QString& dir, bool overwrite)
{
    if (!QDir().mkpath(dir)) {
        std::fprintf(stderr, "lumora_gallery: 无法创建目录 %s\n", qPrintable(dir));
        return 1;
    }
    window.set_message_handler([overwrite](const lumora::host::message& m) {
        const bool question = m.buttons == lumora::host::message_buttons::yes_no;
        const int answer = question && !overwrite ? 2 : 1;
        std::FILE* out = m.icon == lumora::host::message_icon::stop ? stderr : stdout;
        std::fprintf(out, "%s: %s%s\n", qPrintable(m.title),
                     qPrintable(QString(m.text).replace(QChar(13), QChar(10))),
                     question ? (answer == 1 ? " 是" : " 否") : "");
        std::fflush(out);
        return answer;
    });
    int status = 0;
    const struct {
        const char* name;
        bool display_texts;
    } exports[] = {{"考生成绩.xlsx", false}, {"考生成绩（显示内容）.xlsx", true}};
    for (const auto& e : exports) {
        const QString file = QDir(dir).filePath(QString::fromUtf8(e.name));
        const bool existed = QFileInfo::exists(file);
        if (existed && overwrite)
            std::printf("lumora_gallery: 覆盖 %s\n", qPrintable(file));
        std::fflush(stdout);
        if (window.export_file(file, e.display_texts)) {
            std::printf("lumora_gallery: %s\n", qPrintable(window.status_bar()->of_gettext(0)));
        } else {
            status = 1;
            if (existed && !overwrite)
                std::fprintf(stderr, "lumora_gallery: %s 已经存在，未导出（加 --overwrite 覆盖）\n",
                             qPrintable(file));
            else
                std::fprintf(stderr, "lumora_gallery: 未导出 %s\n", qPrintable(file));
        }
        std::fflush(stdout);
    }
    window.set_message_handler({});
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    // The help needs no application, and the scripted mode no display: without one it works
    // offscreen.
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(help_text, stdout);
            return 0;
        }
    if (has_argument(argc, argv, "--export") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lumora_gallery"));

    QCommandLineParser parser;
    const QCommandLineOption export_dir(QStringLiteral("export"), QString(), QStringLiteral("DIR"));
    const QCommandLineOption overwrite(QStringLiteral("overwrite"));
    parser.addOptions({export_dir, overwrite});
    if (!parser.parse(QApplication::arguments()) || !parser.positionalArguments().isEmpty() ||
        (parser.isSet(overwrite) && !parser.isSet(export_dir))) {
        std::fprintf(stderr, "lumora_gallery: %s\nTry 'lumora_gallery --help'.\n",
                     parser.errorText().isEmpty() ? "wrong command line"
                                                  : qPrintable(parser.errorText()));
        return 1;
    }
    // The window's texts are Chinese whatever the locale; Qt's own (buttons, file dialogs,
    // context menus) follow them.
    if (!rt::install_qt_translations(app))
        std::fprintf(stderr, "lumora_gallery: Qt's translations (%s) not found in %s\n",
                     qPrintable(rt::qt_language()),
                     qPrintable(QLibraryInfo::path(QLibraryInfo::TranslationsPath)));

    w_gallery window;
    if (parser.isSet(export_dir))
        return export_to(window, parser.value(export_dir), parser.isSet(overwrite));
    window.show();
    return QApplication::exec();
}
