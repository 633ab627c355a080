#include "console_view.h"

#include "stop_signals.h"
#include "terminal.h"

#include <QCoreApplication>

namespace qorv {

namespace {
constexpr int bar_width = 30;
}

console_view::console_view(std::FILE* out) : out_(out), terminal_(is_terminal(out)) {}

void console_view::begin() {}

void console_view::end()
{
    finish_line();
}

void console_view::set_file(const QString& files_line, const QString& file_name)
{
    finish_line();
    files_line_ = files_line;
    file_ = file_name;
    maximum_ = position_ = 0;
    drawn_permille_ = -1;
}

void console_view::set_status(const QString&) {}

void console_view::set_progress(qint64 maximum, qint64 position)
{
    maximum_ = maximum;
    position_ = position;
    draw(false);
}

bool console_view::yield()
{
    QCoreApplication::processEvents();
    return stop_signals::received() == 0;
}

void console_view::set_installed_version(const QString&) {}

void console_view::draw(bool force)
{
    if (maximum_ <= 0)
        return;
    const int permille = static_cast<int>(position_ * 1000 / maximum_);
    if (!force && permille == drawn_permille_)
        return;
    drawn_permille_ = permille;
    if (!terminal_) {
        // Without a terminal only the finished file is worth a line.
        if (position_ == maximum_)
            std::fprintf(out_, "%s%s\n", qPrintable(files_line_), qPrintable(file_));
        std::fflush(out_);
        return;
    }
    const int filled = permille * bar_width / 1000;
    const QByteArray bar = QByteArray(filled, '#') + QByteArray(bar_width - filled, '.');
    std::fprintf(out_, "\r\033[K%s%s [%s] %3d%%", qPrintable(files_line_), qPrintable(file_),
                 bar.constData(), permille / 10);
    open_line_ = true;
    if (position_ == maximum_)
        finish_line();
    std::fflush(out_);
}

void console_view::finish_line()
{
    if (open_line_) {
        std::fputc('\n', out_);
        open_line_ = false;
    }
}

} // namespace qorv
