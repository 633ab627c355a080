#pragma once

#include "connect_wait.h"
#include "update_job.h"

#include <QWidget>

#include <memory>

namespace qorv {

class update_server;

/// The update window w_update: both version numbers, the button that starts the update, and
/// the progress lines and bar that take its place while files are written.
class update_window : public QWidget, private job_view, private connect_view {
    Q_OBJECT
public:
    /// `sys_path` is the installation directory; `ini_file` its qorv.ini.
    update_window(update_server& server, QString sys_path, QString ini_file,
                  QWidget* parent = nullptr);
    ~update_window() override;

    /// The connection set-up (see connect_waiting()) with this window as its view: while the
    /// server refuses for want of capacity the window shows that it waits, and closing it
    /// cancels the wait.
    connect_result connect_server(const raw_settings& raw, const settings_cipher& cipher,
                                  QString* reason = nullptr);

    /// The version check: shows the installed version `k5` and the newest one on the server, and
    /// offers the update when there is one. Returns false after a reported failure.
    bool check_versions(const QString& k5);

    /// Runs the update procedure (the button's click). Closes the window after a failure.
    job_result start_update();
    /// True when the last update procedure failed (and the window closed after its message).
    bool update_failed() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void begin() override;
    void end() override;
    void set_file(const QString& files_line, const QString& file_name) override;
    void set_status(const QString& status_line) override;
    void set_progress(qint64 maximum, qint64 position) override;
    bool yield() override;
    void waiting(int retry, std::chrono::milliseconds pause, const QString& reason) override;
    void set_installed_version(const QString& version) override;

    struct private_parts;
    std::unique_ptr<private_parts> const d;
};

} // namespace qorv
