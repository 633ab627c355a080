#pragma once

#include "connect_wait.h"
#include "progress_line.h"
#include "update_job.h"

#include <QElapsedTimer>

#include <cstdio>

namespace qorv {

/// Shows the update procedure on a terminal: on standard error a line per file that is redrawn
/// in place when it is a terminal (bytes done of the total, speed, time left, fitted to the
/// terminal's width), and one line per finished file otherwise.
class console_view : public job_view {
public:
    explicit console_view(std::FILE* out = stderr);

    void begin() override;
    void end() override;
    void set_number(qint64 count, qint64 number) override;
    void set_file(const QString& files_line, const QString& file_name) override;
    void set_status(const QString& status_line) override;
    void set_progress(qint64 maximum, qint64 position) override;
    void set_bytes(qint64 total, qint64 done) override;
    bool yield() override;
    void set_installed_version(const QString& version) override;

    /// Ends a progress line that is still open, so that a message can follow on a line of its own.
    void finish_line();

private:
    std::FILE* out_;
    bool terminal_;
    QString files_line_;
    file_progress file_;
    QElapsedTimer started_; ///< since the current file began
    qint64 drawn_at_ = -1;  ///< when the line was last drawn (ms since the file began)
    bool open_line_ = false;
};

/// Shows on standard error that the log-in waits for a busy server: a line per retry, redrawn in
/// place on a terminal. A stop signal cancels the wait.
class console_wait final : public connect_view {
public:
    explicit console_wait(std::FILE* out = stderr);
    /// Ends a line left open on a terminal.
    ~console_wait() override;
    console_wait(const console_wait&) = delete;
    console_wait& operator=(const console_wait&) = delete;

    void waiting(int retry, std::chrono::milliseconds pause, const QString& reason) override;
    bool yield() override;

private:
    std::FILE* out_;
    bool terminal_;
    bool open_line_ = false;
};

} // namespace qorv
