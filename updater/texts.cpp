#include "texts.h"

namespace qorv::texts {

// Message texts break lines with a lone carriage return.
static constexpr QChar cr = QChar(13);

QString database_error(long number, const QString& text)
{
    return QStringLiteral("错误号：") + QString::number(number) + cr + text;
}

QString connect_failed(const QString& phone)
{
    return QStringLiteral("无法连接升级服务器，升级失败！") + cr + cr +
           QStringLiteral("请您确认本机能接入互联网，并安装了SQL数据库驱动。") + cr +
           QStringLiteral("如果任然无法升级，请联系本系统管理员，联系电话:") + phone +
           QStringLiteral("。");
}

QString lock_failed(const QString& reason)
{
    return QStringLiteral("无法创建单实例锁文件，程序无法运行！") + cr + reason;
}

QString cleanup_failed(const std::vector<install_problem>& problems)
{
    QString text = QStringLiteral("以下文件未能恢复或清理，请联系本系统管理员：");
    for (const install_problem& p : problems) {
        text += cr;
        if (p.unreadable_journal)
            text += QStringLiteral("无法读取安装日志 %1：%2").arg(p.path, p.reason);
        else if (p.backup.isEmpty())
            text += QStringLiteral("无法删除 %1：%2").arg(p.path, p.reason);
        else
            text += QStringLiteral("无法恢复原有文件 %1（保存在 %2）：%3")
                        .arg(p.path, p.backup, p.reason);
    }
    return text;
}

QString reserved_name(const QString& name)
{
    return QStringLiteral("服务器上的文件 %1 使用了升级程序保留的文件名，更新失败！").arg(name);
}

QString move_failed(const QString& path, const QString& reason)
{
    return create_failed + cr + QStringLiteral("无法将新文件移到 %1：%2").arg(path, reason);
}

QString server_busy(int retry, double seconds)
{
    return QStringLiteral("升级服务器繁忙，%1 秒后第 %2 次重新连接，请稍候......")
        .arg(seconds, 0, 'f', 1)
        .arg(retry);
}

QString files_line(qint64 count, qint64 number)
{
    return QStringLiteral("共有 %1 个文件需要更新，正在更新第 %2 个：").arg(count).arg(number);
}

QString downloading_line(qint64 number)
{
    return QStringLiteral("正在从服务器下载第 %1 个文件的数据，本窗口可能显示“未响应”！")
        .arg(number);
}

QString storing_line(qint64 number)
{
    return QStringLiteral("正在本地存储第 %1 个文件的数据，请耐心等候......").arg(number);
}

} // namespace qorv::texts
