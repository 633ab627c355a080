// File names from the update server: whatever the name, a path that target_path() accepts lies
// inside the installation directory.

#include "target_path.h"

#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static QTemporaryDir base;
    static const bool prepared = QDir(base.path()).mkpath(QStringLiteral("lib/sub"));
    if (!prepared)
        std::abort();

    const QString name = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto path = qorv::target_path(base.path(), name);
    if (!path)
        return 0;
    const QString relative = QDir(base.path()).relativeFilePath(*path);
    if (relative.isEmpty() || relative == QLatin1String("..") ||
        relative.startsWith(QLatin1String("../")) || QDir::isAbsolutePath(relative) ||
        relative.contains(QChar(0)) || relative.contains(QLatin1Char('\\')))
        std::abort();
    return 0;
}
