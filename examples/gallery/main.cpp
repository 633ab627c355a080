// lumora_gallery: a host window that shows lumora's services at work, open until it is closed;
// with --export, both grid exports of the sample candidates written to a directory without a
// window.

#include "scripted_export.h"
#include "w_gallery.h"

#include <rt/ui/qt_translations.h>

#include <QApplication>
#include <QCommandLineParser>
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
