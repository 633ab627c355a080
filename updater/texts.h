#pragma once

#include "staged_install.h"

#include <QString>

#include <vector>

// The updater's user-facing texts.
namespace qorv::texts {

inline const QString title_attention = QStringLiteral("注意");
inline const QString title_error = QStringLiteral("错误");
inline const QString title_database_error = QStringLiteral("数据库错误");
inline const QString title_notice = QStringLiteral("提示");

inline const QString already_running = QStringLiteral("本程序已经运行!");
inline const QString window_title = QStringLiteral("澄屿智管升级工具V2.0");

inline const QString my_version = QStringLiteral("我的版本：");
inline const QString newest_version = QStringLiteral("最新的版本：");
inline const QString start_update = QStringLiteral("开始更新");

inline const QString download_failed = QStringLiteral("无法下载文件，更新失败！");
inline const QString create_failed = QStringLiteral("无法创建新文件，更新失败！");
inline const QString update_succeeded = QStringLiteral("更新成功！");
// Shown when the new version number cannot be recorded; the files are then put back as they were.
inline const QString record_failed = QStringLiteral("无法在 qorv.ini 中记录新版本，更新失败！");
// The progress line before the first file is known (and throughout a version without files).
inline const QString preparing = QStringLiteral("正在查询需要更新的文件，请稍候......");

/// The single-instance lock could not be created; `reason` names the file and the cause.
QString lock_failed(const QString& reason);
/// A file name from the server that an install keeps for itself: the update fails before
/// anything is written.
QString reserved_name(const QString& name);
/// "无法创建新文件，更新失败！" with the file that could not be moved into place and the system's
/// reason.
QString move_failed(const QString& path, const QString& reason);
/// What an install could not put back or clean up, one line per file.
QString cleanup_failed(const std::vector<install_problem>& problems);
/// "错误号：" + number + CR + server text.
QString database_error(long number, const QString& text);
/// The connection failure message; `phone` is the administrator's telephone number.
QString connect_failed(const QString& phone);
/// The update server refused the log-in for want of capacity: the next attempt, the `retry`-th
/// after the first, follows in `seconds`.
QString server_busy(int retry, double seconds);
/// "共有 N 个文件需要更新，正在更新第 n 个："
QString files_line(qint64 count, qint64 number);
/// "正在从服务器下载第 n 个文件的数据，本窗口可能显示“未响应”！"
QString downloading_line(qint64 number);
/// "正在本地存储第 n 个文件的数据，请耐心等候......"
QString storing_line(qint64 number);

} // namespace qorv::texts
