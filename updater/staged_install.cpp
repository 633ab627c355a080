#include "staged_install.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <filesystem>
#include <system_error>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace qorv {

namespace {

std::filesystem::path native(const QString& path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

bool is_drive_letter(QStringView name)
{
    return name.size() >= 2 && name[1] == QLatin1Char(':') && name[0].isLetter() &&
           name[0].unicode() < 128;
}

/// A name beside `target` that nothing uses yet.
QString sibling_name(const QString& target, const char* purpose)
{
    const QFileInfo info(target);
    for (;;) {
        const QString candidate = info.dir().filePath(
            QStringLiteral(".%1.%2-%3")
                .arg(info.fileName(), QLatin1String(purpose))
                .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
        if (!QFileInfo::exists(candidate))
            return candidate;
    }
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

staged_install::~staged_install()
{
    if (committed_)
        finish();
    else
        rollback();
}

bool staged_install::begin_file(const QString& target)
{
    current_.reset();
    const QFileInfo info(target);
    if (info.isDir() || (info.exists() && !info.isWritable()) || !info.dir().exists())
        return false;

    auto file = std::make_unique<QFile>(sibling_name(target, "qorv-new"));
    if (!file->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
        return false;
    if (info.exists())
        file->setPermissions(info.permissions());
    files_.push_back({target, file->fileName(), {}, false});
    current_ = std::move(file);
    return true;
}

bool staged_install::write(QByteArrayView bytes)
{
    if (!current_)
        return false;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const qint64 n = current_->write(bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

bool staged_install::end_file()
{
    if (!current_)
        return false;
    bool ok = current_->flush();
#ifdef Q_OS_UNIX
    ok = ok && ::fdatasync(current_->handle()) == 0;
#endif
    current_->close();
    ok = ok && current_->error() == QFile::NoError;
    current_.reset();
    return ok;
}

bool staged_install::commit()
{
    if (current_)
        return false;
    std::error_code ec;
    for (staged_file& f : files_) {
        if (QFileInfo::exists(f.target)) {
            // A hard link keeps the old file while the new one replaces the target in one step,
            // so the target never disappears; a file system without links gets a plain move.
            f.backup = sibling_name(f.target, "qorv-old");
            std::filesystem::create_hard_link(native(f.target), native(f.backup), ec);
            if (ec) {
                std::filesystem::rename(native(f.target), native(f.backup), ec);
                if (ec) {
                    f.backup.clear();
                    undo();
                    return false;
                }
            }
        }
        std::filesystem::rename(native(f.temporary), native(f.target), ec);
        if (ec) {
            if (!f.backup.isEmpty() && !QFileInfo::exists(f.target))
                std::filesystem::rename(native(f.backup), native(f.target), ec);
            else if (!f.backup.isEmpty())
                QFile::remove(f.backup);
            f.backup.clear();
            undo();
            return false;
        }
        f.placed = true;
    }
    committed_ = true;
    return true;
}

void staged_install::finish()
{
    for (staged_file& f : files_)
        if (!f.backup.isEmpty())
            QFile::remove(f.backup);
    files_.clear();
    committed_ = false;
}

void staged_install::undo()
{
    std::error_code ec;
    for (auto it = files_.rbegin(); it != files_.rend(); ++it) {
        if (it->placed) {
            if (!it->backup.isEmpty())
                std::filesystem::rename(native(it->backup), native(it->target), ec);
            else
                QFile::remove(it->target);
        } else if (!it->backup.isEmpty()) {
            QFile::remove(it->backup);
        }
    }
    committed_ = false;
    rollback();
}

void staged_install::rollback()
{
    current_.reset();
    for (const staged_file& f : files_)
        if (!f.placed)
            QFile::remove(f.temporary);
    files_.clear();
}

} // namespace qorv
