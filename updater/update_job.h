#pragma once

#include <QString>

namespace qorv {

class update_server;

/// What the update procedure shows while it runs: the window's controls or a terminal.
class job_view {
public:
    virtual ~job_view() = default;
    /// The procedure starts: progress controls shown, the button hidden.
    virtual void begin() = 0;
    /// The procedure ended normally: progress controls hidden, the button shown.
    virtual void end() = 0;
    /// The running-number line (st_3), the current file (st_4) and the status line (st_7).
    virtual void set_file(const QString& files_line, const QString& file_name) = 0;
    virtual void set_status(const QString& status_line) = 0;
    /// Upper bound and position of the progress bar (chunks of the current file).
    virtual void set_progress(qint64 maximum, qint64 position) = 0;
    /// The file about to be shown by set_file(): its running number of `count`, and its size
    /// and how many of its bytes are written (or found in place) as they grow. Shown where there
    /// is room for more than the bar; the window has none.
    virtual void set_number(qint64 count, qint64 number)
    {
        Q_UNUSED(count);
        Q_UNUSED(number);
    }
    virtual void set_bytes(qint64 total, qint64 done)
    {
        Q_UNUSED(total);
        Q_UNUSED(done);
    }
    /// Lets pending input and painting happen; false when the user has closed the window.
    virtual bool yield() = 0;
    /// The installed version shown beside the newest one (st_6).
    virtual void set_installed_version(const QString& version) = 0;
};

enum class job_result {
    updated,   ///< every file replaced and the version recorded
    failed,    ///< a failure was reported; nothing was changed
    cancelled, ///< the window was closed while the procedure yielded; nothing was changed
};

/// Size of the pieces in which files are written, and of one step of the progress bar.
inline constexpr qint64 chunk_size = 32765;

/// The update procedure: downloads every file of `version_text` (the version as displayed) into
/// `sys_path`, all or nothing, then records the version in `ini_file`. Failures are reported
/// through rt::messagebox with the system's texts.
job_result run_update(update_server& server, const QString& version_text, const QString& sys_path,
                      const QString& ini_file, job_view& view);

} // namespace qorv
