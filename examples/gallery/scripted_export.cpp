// The gallery without a window: both grid exports of the sample candidates written to a
// directory, the message boxes printed and answered.

#include "scripted_export.h"
#include "w_gallery.h"

#include <lumora/controls/u_statusbar.h>

#include <QDir>
#include <QFileInfo>

#include <cstdio>

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
