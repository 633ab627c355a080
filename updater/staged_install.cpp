#include "staged_install.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <filesystem>
#include <system_error>

#ifdef Q_OS_UNIX
#include <fcntl.h>
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

const QString staged_install::journal_name = QStringLiteral(".qorv-journal");

namespace detail {

namespace {
step_hook current_hook = nullptr;
}

void set_step_hook(step_hook hook)
{
    current_hook = hook;
}

} // namespace detail

namespace {

void step(const char* name)
{
    if (detail::current_hook)
        detail::current_hook(name);
}

/// True when something is at `path`, also a dangling symbolic link.
bool present(const QString& path)
{
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(native(path), ec));
}

QString reason(const std::error_code& ec)
{
    return QString::fromLocal8Bit(ec.message());
}

/// Makes the directory entries below `dir` durable (a rename is only durable with its
/// directory). Failure is not fatal: the kernel writes the entries back a moment later anyway.
void sync_directory(const QString& dir)
{
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#else
    Q_UNUSED(dir);
#endif
}

constexpr char new_mark = 'n';
constexpr char old_mark = 'o';

/// A short name in `dir` of the form ".qorv-n-XXXXXXXX" that neither exists nor is in `taken`.
QString scratch_name(const QString& dir, char mark, const std::vector<QString>& taken)
{
    for (;;) {
        const QString candidate = QDir(dir).filePath(
            QStringLiteral(".qorv-%1-%2")
                .arg(QLatin1Char(mark))
                .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
        if (!present(candidate) && std::find(taken.begin(), taken.end(), candidate) == taken.end())
            return candidate;
    }
}

bool is_scratch_name(const QString& name, char mark)
{
    static const QRegularExpression pattern(QStringLiteral("^\\.qorv-([no])-[0-9a-f]{8}$"));
    const auto m = pattern.match(name);
    return m.hasMatch() && m.captured(1) == QLatin1Char(mark);
}

const char* const phase_names[] = {"staging", "moving", "undoing", "done"};

} // namespace

staged_install::staged_install(QString base) : base_(QFileInfo(base).absoluteFilePath()) {}

staged_install::~staged_install()
{
    if (phase_ == phase::moving)
        finish();
    else if (phase_ == phase::staging)
        rollback();
}

bool staged_install::begin_file(const QString& target)
{
    if (phase_ != phase::staging)
        return false;
    current_.reset();
    const QFileInfo info(target);
    const QString relative = QDir(base_).relativeFilePath(info.absoluteFilePath());
    if (relative.startsWith(QLatin1String("../")) || relative == QLatin1String("..") ||
        QDir::isAbsolutePath(relative) || info.isDir() || (info.exists() && !info.isWritable()) ||
        !info.dir().exists())
        return false;

    std::vector<QString> taken;
    for (const staged_file& f : files_)
        taken.insert(taken.end(), {f.temporary, f.backup});
    staged_file f{info.absoluteFilePath(), scratch_name(info.absolutePath(), new_mark, taken), {}};
    taken.push_back(f.temporary);
    f.backup = scratch_name(info.absolutePath(), old_mark, taken);
    files_.push_back(f);
    // Recorded before it exists, so that no interruption can leave it unknown.
    if (!write_journal()) {
        files_.pop_back();
        return false;
    }

    auto file = std::make_unique<QFile>(f.temporary);
    if (!file->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
        return false;
    step("create");
    if (info.exists())
        file->setPermissions(info.permissions());
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
    step("write");
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
    step("flush");
    return ok;
}

bool staged_install::add_file(const QString& target, QByteArrayView bytes)
{
    return begin_file(target) && write(bytes) && end_file();
}

bool staged_install::commit()
{
    if (phase_ != phase::staging || current_)
        return false;
    for (staged_file& f : files_)
        f.had_old = present(f.target);
    // From here on every file is complete on disk: an interruption is completed, not undone.
    phase_ = phase::moving;
    if (!write_journal()) {
        phase_ = phase::staging;
        rollback();
        return false;
    }
    return move_all(false);
}

bool staged_install::move_all(bool resuming)
{
    std::error_code ec;
    QSet<QString> directories{base_};
    for (staged_file& f : files_) {
        directories.insert(QFileInfo(f.target).absolutePath());
        if (!present(f.temporary)) {
            if (resuming) // moved before the interruption
                continue;
            undo();
            return false;
        }
        if (f.had_old && !present(f.backup)) {
            // A hard link keeps the old file while the new one replaces the target in one step,
            // so the target never disappears; a file system without links gets a plain move.
            std::filesystem::create_hard_link(native(f.target), native(f.backup), ec);
            if (ec)
                std::filesystem::rename(native(f.target), native(f.backup), ec);
            step("backup");
            if (ec) {
                undo();
                return false;
            }
        }
        std::filesystem::rename(native(f.temporary), native(f.target), ec);
        step("move");
        if (ec) {
            undo();
            return false;
        }
    }
    for (const QString& dir : directories)
        sync_directory(dir);
    return true;
}

bool staged_install::finish()
{
    if (phase_ != phase::moving && phase_ != phase::done)
        return problems_.empty();
    problems_.clear();
    phase_ = phase::done;
    write_journal(); // without it an interruption completes the install again, just as well
    for (const staged_file& f : files_)
        remove(f.backup);
    return close_journal();
}

bool staged_install::undo()
{
    if (phase_ != phase::moving && phase_ != phase::undoing)
        return problems_.empty();
    problems_.clear();
    phase_ = phase::undoing;
    write_journal();
    std::error_code ec;
    const auto restore = [&](const staged_file& f) {
        std::filesystem::rename(native(f.backup), native(f.target), ec);
        step("restore");
        if (ec)
            problems_.push_back({f.target, f.backup, reason(ec)});
        else if (present(f.backup)) // a link to the target itself: rename does nothing
            remove(f.backup);
    };
    for (auto it = files_.rbegin(); it != files_.rend(); ++it) {
        const staged_file& f = *it;
        if (present(f.temporary)) { // not moved
            if (present(f.backup)) {
                if (present(f.target))
                    remove(f.backup);
                else
                    restore(f);
            }
            remove(f.temporary);
        } else if (f.had_old) {
            if (present(f.backup))
                restore(f);
        } else {
            remove(f.target);
        }
    }
    return close_journal();
}

bool staged_install::rollback()
{
    if (phase_ != phase::staging)
        return problems_.empty();
    problems_.clear();
    current_.reset();
    for (const staged_file& f : files_)
        remove(f.temporary);
    return close_journal();
}

bool staged_install::abandon()
{
    if (phase_ == phase::moving || phase_ == phase::undoing)
        return undo();
    return rollback();
}

void staged_install::remove(const QString& path)
{
    std::error_code ec;
    if (std::filesystem::remove(native(path), ec))
        step("remove");
    if (ec)
        problems_.push_back({path, {}, reason(ec)});
}

bool staged_install::close_journal()
{
    phase_ = phase::closed;
    if (!problems_.empty())
        return false; // kept, so that the next start tries again
    if (journal_written_) {
        remove(QDir(base_).filePath(journal_name));
        sync_directory(base_);
        journal_written_ = !problems_.empty();
    }
    files_.clear();
    return problems_.empty();
}

bool staged_install::write_journal()
{
    QByteArray text = "qorv-journal 1\n";
    text += phase_names[static_cast<int>(phase_)];
    text += '\n';
    for (const staged_file& f : files_) {
        text += "file " + QByteArray(f.had_old ? "1 " : "0 ") +
                QFileInfo(f.temporary).fileName().toUtf8() + ' ' +
                QFileInfo(f.backup).fileName().toUtf8() + ' ' +
                QDir(base_).relativeFilePath(f.target).toUtf8().toPercentEncoding("/") + '\n';
    }

    // Written whole beside the journal and renamed over it: the journal is always one complete
    // version or the next.
    const QString path = QDir(base_).filePath(journal_name);
    const QByteArray scratch = QFile::encodeName(path + QStringLiteral(".new"));
    bool ok = false;
#ifdef Q_OS_UNIX
    const int fd = ::open(scratch.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
        qsizetype done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(fd, text.constData() + done, std::size_t(text.size() - done));
            if (n <= 0)
                break;
            done += n;
        }
        ok = done == text.size() && ::fsync(fd) == 0;
        ok = ::close(fd) == 0 && ok;
    }
#endif
    step("journal-written");
    std::error_code ec;
    if (ok) {
        std::filesystem::rename(std::filesystem::path(scratch.toStdString()), native(path), ec);
        ok = !ec;
    }
    if (!ok) {
        std::filesystem::remove(std::filesystem::path(scratch.toStdString()), ec);
        return false;
    }
    sync_directory(base_);
    journal_written_ = true;
    step("journal");
    return true;
}

recovery recover_install(const QString& base, std::vector<install_problem>* problems)
{
    staged_install install(base);
    install.phase_ = staged_install::phase::closed;
    const QString path = QDir(install.base_).filePath(staged_install::journal_name);
    // A journal whose writing was interrupted; the previous one, if any, still stands.
    install.remove(path + QStringLiteral(".new"));
    const std::vector<install_problem> early = std::move(install.problems_);
    install.problems_.clear();
    if (problems)
        problems->insert(problems->end(), early.begin(), early.end());

    QFile journal(path);
    if (!journal.exists())
        return early.empty() ? recovery::none : recovery::incomplete;
    bool valid = journal.open(QIODevice::ReadOnly);
    const QList<QByteArray> lines = journal.readAll().split('\n');
    valid = valid && lines.size() >= 3 && lines[0] == "qorv-journal 1" && lines.back().isEmpty();
    std::optional<staged_install::phase> phase;
    for (int i = 0; valid && i < 4; ++i)
        if (lines[1] == phase_names[i])
            phase = static_cast<staged_install::phase>(i);
    valid = valid && phase.has_value();
    for (qsizetype i = 2; valid && i < lines.size() - 1; ++i) {
        const QList<QByteArray> fields = lines[i].split(' ');
        valid = fields.size() == 5 && fields[0] == "file" &&
                (fields[1] == "0" || fields[1] == "1") &&
                is_scratch_name(QString::fromUtf8(fields[2]), new_mark) &&
                is_scratch_name(QString::fromUtf8(fields[3]), old_mark);
        if (!valid)
            break;
        // The journal is only trusted with files inside the installation.
        const auto target = target_path(
            install.base_, QString::fromUtf8(QByteArray::fromPercentEncoding(fields[4])));
        valid = target.has_value();
        if (!valid)
            break;
        const QString dir = QFileInfo(*target).absolutePath();
        install.files_.push_back({QFileInfo(*target).absoluteFilePath(),
                                  QDir(dir).filePath(QString::fromUtf8(fields[2])),
                                  QDir(dir).filePath(QString::fromUtf8(fields[3])),
                                  fields[1] == "1"});
    }
    if (!valid) {
        if (problems)
            problems->push_back({path, {}, QStringLiteral("unreadable install journal")});
        return recovery::incomplete;
    }

    install.journal_written_ = true;
    install.phase_ = *phase;
    recovery result = recovery::rolled_back;
    switch (*phase) {
    case staged_install::phase::staging:
        install.rollback();
        break;
    case staged_install::phase::moving:
        // Every file was complete on disk before the first move: finish the moves.
        if (install.move_all(true)) {
            install.finish();
            result = recovery::completed;
        }
        break;
    case staged_install::phase::undoing:
        install.undo();
        break;
    case staged_install::phase::done:
        install.finish();
        result = recovery::completed;
        break;
    case staged_install::phase::closed:
        break;
    }
    if (problems)
        problems->insert(problems->end(), install.problems_.begin(), install.problems_.end());
    return install.problems_.empty() && early.empty() ? result : recovery::incomplete;
}

} // namespace qorv
