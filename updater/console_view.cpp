#include "console_view.h"

#include "stop_signals.h"
#include "terminal.h"
#include "texts.h"

#include <QCoreApplication>

namespace qorv {

namespace {
/// Redrawn at most this often: faster changes are more than anybody can read.
constexpr qint64 redraw_ms = 100;
} // namespace

console_view::console_view(std::FILE* out) : out_(out), terminal_(is_terminal(out)) {}

void console_view::begin() {}

void console_view::end()
{
    finish_line();
}

void console_view::set_number(qint64 count, qint64 number)
{
    file_.count = count;
    file_.number = number;
}

void console_view::set_file(const QString& files_line, const QString& file_name)
{
    finish_line();
    files_line_ = files_line;
    file_.name = file_name;
    file_.total = -1;
    file_.done = 0;
    started_.start();
    drawn_at_ = -1;
}

void console_view::set_status(const QString&) {}

void console_view::set_progress(qint64 maximum, qint64 position)
{
    // Without a terminal only the finished file is worth a line.
    if (!terminal_ && maximum > 0 && position == maximum) {
        std::fprintf(out_, "%s%s\n", qPrintable(files_line_), qPrintable(file_.name));
        std::fflush(out_);
    }
}

void console_view::set_bytes(qint64 total, qint64 done)
{
    if (!terminal_)
        return;
    file_.total = total;
    file_.done = done;
    const qint64 now = started_.elapsed();
    const bool finished = done >= total;
    if (!finished && drawn_at_ >= 0 && now - drawn_at_ < redraw_ms)
        return;
    drawn_at_ = now;
    file_.seconds = double(now) / 1000;
    std::fprintf(out_, "\r%s\033[K", qPrintable(progress_line(file_, terminal_columns(out_))));
    open_line_ = true;
    if (finished)
        finish_line();
    std::fflush(out_);
}

bool console_view::yield()
{
    QCoreApplication::processEvents();
    return stop_signals::received() == 0;
}

void console_view::set_installed_version(const QString&) {}

void console_view::finish_line()
{
    if (open_line_) {
        std::fputc('\n', out_);
        open_line_ = false;
    }
}

console_wait::console_wait(std::FILE* out) : out_(out), terminal_(is_terminal(out)) {}

console_wait::~console_wait()
{
    if (open_line_) {
        std::fputc('\n', out_);
        std::fflush(out_);
    }
}

void console_wait::waiting(int retry, std::chrono::milliseconds pause, const QString& reason)
{
    const QString line =
        QStringLiteral("qorv_update: ") + texts::server_busy(retry, double(pause.count()) / 1000);
    if (terminal_) {
        // Short enough for any terminal, so that redrawing it in place never garbles it.
        std::fprintf(out_, "\r%s\033[K", qPrintable(line));
        open_line_ = true;
    } else {
        std::fprintf(out_, "%s (%s)\n", qPrintable(line), qPrintable(reason));
    }
    std::fflush(out_);
}

bool console_wait::yield()
{
    return stop_signals::received() == 0;
}

} // namespace qorv
