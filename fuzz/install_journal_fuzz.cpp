// The install journal as found at start: whatever the file holds, a journal that read_journal()
// accepts names only scratch files beside files inside the installation (or beside the file a
// link inside it points to), and a phase its records allow.

#include "install_journal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

namespace {

bool inside(const QString& base, const QString& path)
{
    const QString relative = QDir(base).relativeFilePath(path);
    return !relative.isEmpty() && relative != QLatin1String("..") &&
           !relative.startsWith(QLatin1String("../")) && !QDir::isAbsolutePath(relative);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static QTemporaryDir base;
    static const bool prepared =
        QDir(base.path()).mkpath(QStringLiteral("lib/sub")) &&
        QFile::link(base.filePath(QStringLiteral("lib")), base.filePath(QStringLiteral("in")));
    if (!prepared)
        std::abort();
    QFile journal(QDir(base.path()).filePath(qorv::journal_name));
    if (!journal.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        journal.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
        std::abort();
    journal.close();

    qorv::install_journal read;
    if (qorv::read_journal(base.path(), &read) != qorv::journal_status::read)
        return 0;
    const QString real_base = QFileInfo(base.path()).canonicalFilePath();
    for (const qorv::staged_file& f : read.files) {
        const QString dir = QFileInfo(f.target).absolutePath();
        if (!(f.link.isEmpty() ? inside(base.path(), f.target) : inside(base.path(), f.link)) ||
            QFileInfo(f.temporary).absolutePath() != dir ||
            QFileInfo(f.backup).absolutePath() != dir ||
            !qorv::is_scratch_name(QFileInfo(f.temporary).fileName(),
                                   qorv::scratch_kind::new_file) ||
            !qorv::is_scratch_name(QFileInfo(f.backup).fileName(), qorv::scratch_kind::old_file))
            std::abort();
        // Also after every link on the way, a file of its own lies inside the installation.
        const QString real_dir = QFileInfo(dir).canonicalFilePath();
        if (f.link.isEmpty() && !real_dir.isEmpty() && real_dir != real_base &&
            !inside(real_base, real_dir))
            std::abort();
    }
    if (read.phase == qorv::install_phase::closed)
        std::abort();
    return 0;
}
