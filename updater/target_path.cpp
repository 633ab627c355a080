#include "target_path.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace qorv {

namespace {

bool is_drive_letter(QStringView name)
{
    return name.size() >= 2 && name[1] == QLatin1Char(':') && name[0].isLetter() &&
           name[0].unicode() < 128;
}

bool is_inside(const QString& canonical_base, const QString& canonical_path)
{
    return canonical_path == canonical_base ||
           canonical_path.startsWith(canonical_base.endsWith(QLatin1Char('/'))
                                         ? canonical_base
                                         : canonical_base + QLatin1Char('/'));
}

} // namespace

std::optional<QString> target_path(const QString& base, const QString& name)
{
    if (name.isEmpty() || name.contains(QChar(0)) || name.startsWith(QLatin1Char('/')) ||
        name.startsWith(QLatin1Char('\\')) || is_drive_letter(name))
        return std::nullopt;

    QStringList parts;
    for (const QString& part : name.split(QRegularExpression(QStringLiteral("[/\\\\]")))) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return std::nullopt;
        parts << part;
    }
    const QString path = QDir(base).filePath(parts.join(QLatin1Char('/')));

    // Symbolic links on the way must not lead out of the base. A directory that does not exist
    // cannot be written into, so only existing ones need a look.
    const QString canonical_base = QFileInfo(base).canonicalFilePath();
    if (canonical_base.isEmpty())
        return std::nullopt;
    const QString parent = QFileInfo(path).absolutePath();
    const QString canonical_parent = QFileInfo(parent).canonicalFilePath();
    if (!canonical_parent.isEmpty() && !is_inside(canonical_base, canonical_parent))
        return std::nullopt;
    return path;
}

} // namespace qorv
