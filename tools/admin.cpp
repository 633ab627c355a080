#include "admin.h"

#include "install_names.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace qorv::admin {

std::optional<QString> normalized_version(const QString& text, QString* why)
{
    static const QRegularExpression form(QStringLiteral("^([0-9]+)(?:\\.([0-9]*))?$"));
    const auto m = form.match(text);
    auto refuse = [&](const QString& reason) -> std::optional<QString> {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    if (!m.hasMatch() || (m.capturedLength(1) == 0 && m.capturedLength(2) == 0))
        return refuse(
            QStringLiteral("version \"%1\" is not a plain decimal number such as 2.15").arg(text));
    QString whole = m.captured(1);
    QString fraction = m.captured(2);
    while (whole.size() > 1 && whole.startsWith(QLatin1Char('0')))
        whole.remove(0, 1);
    while (fraction.endsWith(QLatin1Char('0')))
        fraction.chop(1);
    if (fraction.size() > 3)
        return refuse(QStringLiteral("version \"%1\" has more than three decimals").arg(text));
    if (whole.size() > 9)
        return refuse(
            QStringLiteral("version \"%1\" has more than nine digits before the point").arg(text));
    // The form the updater shows and records: at least one decimal.
    return whole + QLatin1Char('.') + (fraction.isEmpty() ? QStringLiteral("0") : fraction);
}

std::optional<QString> published_name(const QDir& base, const QString& file, QString* why)
{
    auto refuse = [&](const QString& reason) -> std::optional<QString> {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    const QString base_path = QDir::cleanPath(base.absolutePath());
    const QString path = QDir::cleanPath(QFileInfo(file).absoluteFilePath());
    const QString name = QDir(base_path).relativeFilePath(path);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
        name.startsWith(QLatin1String("../")) || QDir::isAbsolutePath(name))
        return refuse(
            QStringLiteral("%1 is not inside the base directory %2").arg(file, base_path));

    // The file itself, after every symbolic link, must lie inside the base as well.
    const QFileInfo info(path);
    if (!info.exists())
        return refuse(QStringLiteral("%1 does not exist").arg(file));
    const QString real = info.canonicalFilePath();
    const QString real_base = QFileInfo(base_path).canonicalFilePath();
    if (real_base.isEmpty())
        return refuse(QStringLiteral("base directory %1 does not exist").arg(base_path));
    if (!real.startsWith(real_base == QLatin1String("/") ? real_base
                                                         : real_base + QLatin1Char('/')))
        return refuse(
            QStringLiteral("%1 leads outside the base directory %2 through a symbolic link")
                .arg(file, base_path));
    if (!QFileInfo(real).isFile())
        return refuse(QStringLiteral("%1 is not a regular file").arg(file));

    static const QRegularExpression forbidden(QStringLiteral("[\\\\:*?\"<>|\\x00-\\x1f]"));
    if (name.contains(forbidden))
        return refuse(QStringLiteral("the name %1 holds a character that Windows file names "
                                     "cannot hold (\\ : * ? \" < > | or a control character)")
                          .arg(name));
    if (is_reserved_name(name))
        return refuse(QStringLiteral("the name %1 is kept for the updater's own files (its journal "
                                     "and scratch files): the updater would refuse it")
                          .arg(name));
    if (QFileInfo(real).size() == 0)
        return refuse(QStringLiteral("%1 is empty: the updater takes an empty file for a failed "
                                     "download")
                          .arg(file));
    return name;
}

} // namespace qorv::admin
