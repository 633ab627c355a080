#pragma once

#include "update_job.h"

#include <cstdio>

namespace qorv {

/// Shows the update procedure on a terminal: a progress bar on standard error that is redrawn
/// in place when it is a terminal, and one line per finished file otherwise.
class console_view : public job_view {
public:
    explicit console_view(std::FILE* out = stderr);

    void begin() override;
    void end() override;
    void set_file(const QString& files_line, const QString& file_name) override;
    void set_status(const QString& status_line) override;
    void set_progress(qint64 maximum, qint64 position) override;
    bool yield() override;
    void set_installed_version(const QString& version) override;

    /// Ends a progress line that is still open, so that a message can follow on a line of its own.
    void finish_line();

private:
    void draw(bool force);

    std::FILE* out_;
    bool terminal_;
    QString file_;
    QString files_line_;
    qint64 maximum_ = 0;
    qint64 position_ = 0;
    int drawn_permille_ = -1;
    bool open_line_ = false;
};

} // namespace qorv
