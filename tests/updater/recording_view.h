#pragma once

#include "update_job.h"

#include <rt/ui/messagebox.h>

#include <QCoreApplication>
#include <QStringList>

#include <functional>

namespace qorv::test {

/// A job view that records what the procedure shows, and can close "the window" at a given
/// yield.
class recording_view : public job_view {
public:
    QStringList files_lines, file_names, statuses;
    QList<std::pair<qint64, qint64>> progress;
    QString installed;
    int yields = 0;
    int close_at_yield = 0; // 0: never
    bool begun = false, ended = false;
    std::function<void()> on_yield;

    void begin() override { begun = true; }
    void end() override { ended = true; }
    void set_file(const QString& line, const QString& name) override
    {
        files_lines << line;
        file_names << name;
    }
    void set_status(const QString& line) override { statuses << line; }
    void set_progress(qint64 maximum, qint64 position) override
    {
        progress.append({maximum, position});
    }
    bool yield() override
    {
        ++yields;
        if (on_yield)
            on_yield();
        return close_at_yield == 0 || yields < close_at_yield;
    }
    void set_installed_version(const QString& version) override { installed = version; }
};

/// Collects the message boxes shown while it lives.
class message_log {
public:
    message_log()
    {
        previous_ = rt::set_messagebox_handler([this](const rt::message& m) {
            messages.append(m);
            return 1;
        });
    }
    ~message_log() { rt::set_messagebox_handler(previous_); }
    QList<rt::message> messages;

private:
    rt::messagebox_handler previous_;
};

} // namespace qorv::test
