#include "staged_install.h"

#include "file_sync.h"
#include "install_step.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace qorv {

namespace {

using detail::step;

/// How much of a file is written before its writing to disk is started.
constexpr qint64 writeback_window = 8 * 1024 * 1024;

/// True when something is at `path`, also a dangling symbolic link.
bool present(const QString& path)
{
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(native_path(path), ec));
}

QString reason(const std::error_code& ec)
{
    return QString::fromLocal8Bit(ec.message());
}

/// A short name in `dir` of the form ".qorv-n-XXXXXXXX" that neither exists nor is in `taken`.
QString scratch_name(const QString& dir, scratch_kind kind, const std::vector<QString>& taken)
{
    for (;;) {
        const QString candidate =
            QDir(dir).filePath(scratch_file_name(kind, QRandomGenerator::global()->generate()));
        if (!present(candidate) && std::find(taken.begin(), taken.end(), candidate) == taken.end())
            return candidate;
    }
}

} // namespace

staged_install::staged_install(QString base)
    : base_(QFileInfo(base).absoluteFilePath()), journal_(base_)
{
}

staged_install::~staged_install()
{
    if (phase_ == phase::moving)
        finish();
    else if (phase_ == phase::staging)
        rollback();
}

bool staged_install::begin_file(const QString& target, bool follow_link)
{
    if (phase_ != phase::staging)
        return false;
    current_.reset();
    const QFileInfo named(target);
    const QString relative = QDir(base_).relativeFilePath(named.absoluteFilePath());
    if (relative.startsWith(QLatin1String("../")) || relative == QLatin1String("..") ||
        QDir::isAbsolutePath(relative))
        return false;
    QString link;
    QFileInfo info = named;
    if (follow_link && named.isSymLink()) {
        // Replaced where the link points, so that the link stays one.
        link = named.absoluteFilePath();
        info = QFileInfo(named.canonicalFilePath());
        if (info.filePath().isEmpty()) // a link to nothing
            return false;
    }
    if (info.isDir() || (info.exists() && !info.isWritable()) || !info.dir().exists())
        return false;

    std::vector<QString> taken;
    for (const staged_file& f : files_)
        taken.insert(taken.end(), {f.temporary, f.backup});
    staged_file f{info.absoluteFilePath(),
                  scratch_name(info.absolutePath(), scratch_kind::new_file, taken),
                  {},
                  false,
                  link};
    taken.push_back(f.temporary);
    f.backup = scratch_name(info.absolutePath(), scratch_kind::old_file, taken);
    if (!journal_made_) {
        if (!journal_.create())
            return false;
        journal_made_ = true;
    }
    // Recorded before it exists, so that no interruption can leave it unknown.
    if (!journal_.record_file(f))
        return false;
    files_.push_back(f);

    auto file = std::make_unique<QFile>(f.temporary);
    if (!file->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
        return false;
    step("create");
    if (info.exists())
        file->setPermissions(info.permissions());
    current_ = std::move(file);
    written_ = 0;
    written_back_ = 0;
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
    // A large file goes to disk while it arrives, window by window, instead of all at once in
    // end_file(): the disk works while the download goes on. Whole windows only, so that no
    // page on its way to disk is written again.
    written_ += bytes.size();
    if (written_ - written_back_ >= writeback_window) {
        const qint64 end = written_ - written_ % writeback_window;
        start_writeback(*current_, written_back_, end - written_back_);
        written_back_ = end;
    }
    step("write");
    return true;
}

bool staged_install::end_file()
{
    if (!current_)
        return false;
    bool ok = current_->flush() && sync_data(*current_);
    current_->close();
    ok = ok && current_->error() == QFile::NoError;
    current_.reset();
    step("flush");
    return ok;
}

bool staged_install::add_file(const QString& target, QByteArrayView bytes, bool follow_link)
{
    return begin_file(target, follow_link) && write(bytes) && end_file();
}

bool staged_install::commit()
{
    if (phase_ != phase::staging || current_)
        return false;
    move_failure_ = {};
    QSet<QString> directories{base_};
    for (staged_file& f : files_) {
        f.had_old = present(f.target);
        directories.insert(QFileInfo(f.temporary).absolutePath());
    }
    // Every temporary file's name must be on disk before the journal says that the moves have
    // begun: a power cut would otherwise leave a file that is neither moved nor there to move.
    for (const QString& dir : directories)
        sync_directory(dir);
    step("sync");
    // From here on every file is complete on disk: an interruption is completed, not undone.
    if (!files_.empty() && !journal_.commit(files_)) {
        rollback();
        return false;
    }
    phase_ = phase::moving;
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
            move_failure_ = {f.temporary,
                             {},
                             reason(std::make_error_code(std::errc::no_such_file_or_directory))};
            undo();
            return false;
        }
        if (f.had_old && !present(f.backup)) {
            // A hard link keeps the old file while the new one replaces the target in one step,
            // so the target never disappears; a file system without links gets a plain move.
            std::filesystem::create_hard_link(native_path(f.target), native_path(f.backup), ec);
            if (ec)
                std::filesystem::rename(native_path(f.target), native_path(f.backup), ec);
            step("backup");
            if (ec) {
                move_failure_ = {f.target, {}, reason(ec)};
                undo();
                return false;
            }
        }
        std::filesystem::rename(native_path(f.temporary), native_path(f.target), ec);
        step("move");
        if (ec) {
            move_failure_ = {f.target, {}, reason(ec)};
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
    // Not flushed: without it an interruption completes the install again, just as well.
    if (journal_made_)
        journal_.record_phase(phase::done, files_, false);
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
    // On disk before the first file is put back: an interruption must go on undoing, since
    // completing the moves would leave the files put back by then old.
    if (journal_made_)
        journal_.record_phase(phase::undoing, files_, true);
    std::error_code ec;
    const auto restore = [&](const staged_file& f) {
        std::filesystem::rename(native_path(f.backup), native_path(f.target), ec);
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
    if (std::filesystem::remove(native_path(path), ec))
        step("remove");
    if (ec)
        problems_.push_back({path, {}, reason(ec)});
}

bool staged_install::close_journal()
{
    phase_ = phase::closed;
    journal_.close();
    if (!problems_.empty())
        return false; // kept, so that the next start tries again
    if (journal_made_) {
        remove(journal_.path());
        sync_directory(base_);
        journal_made_ = !problems_.empty();
    }
    files_.clear();
    return problems_.empty();
}

void staged_install::remove_stray_temporaries()
{
    namespace fs = std::filesystem;
    std::vector<fs::path> stray;
    std::error_code ec;
    // Symbolic links are not followed: only the installation's own directories are searched.
    fs::recursive_directory_iterator it(native_path(base_),
                                        fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().native();
        std::error_code type_error; // an entry that vanished meanwhile is no reason to stop
        if (name.size() < 16 || name[0] != '.' || !it->is_regular_file(type_error))
            continue;
        const QString text = QFile::decodeName(QByteArray::fromStdString(name));
        if (is_previous_temporary_name(text) || is_scratch_name(text, scratch_kind::new_file))
            stray.push_back(it->path());
    }
    for (const fs::path& path : stray)
        remove(QFile::decodeName(QByteArray::fromStdString(path.native())));
}

recovery recover_install(const QString& base, std::vector<install_problem>* problems)
{
    staged_install install(base);
    install.phase_ = install_phase::closed;
    // The scratch copy of the journal that earlier updaters wrote before renaming it.
    install.remove(QDir(install.base_).filePath(journal_scratch_name));
    std::vector<install_problem> early = std::move(install.problems_);
    install.problems_.clear();
    const auto report = [&](const std::vector<install_problem>& found) {
        if (problems)
            problems->insert(problems->end(), found.begin(), found.end());
    };

    install_journal journal;
    QString why;
    switch (read_journal(install.base_, &journal, &why)) {
    case journal_status::absent:
        install.remove_stray_temporaries();
        early.insert(early.end(), install.problems_.begin(), install.problems_.end());
        report(early);
        return early.empty() ? recovery::none : recovery::incomplete;
    case journal_status::unreadable:
        early.push_back({install.journal_.path(), {}, why, true});
        report(early);
        return recovery::incomplete;
    case journal_status::read:
        break;
    }

    install.journal_made_ = true;
    install.journal_.reopen();
    install.phase_ = journal.phase;
    install.files_ = std::move(journal.files);
    recovery result = recovery::rolled_back;
    switch (journal.phase) {
    case install_phase::staging:
        install.rollback();
        break;
    case install_phase::moving:
        // Every file was complete on disk before the first move: finish the moves.
        if (install.move_all(true)) {
            install.finish();
            result = recovery::completed;
        }
        break;
    case install_phase::undoing:
        install.undo();
        break;
    case install_phase::done:
        install.finish();
        result = recovery::completed;
        break;
    case install_phase::closed:
        break;
    }
    if (install.problems_.empty())
        install.remove_stray_temporaries();
    report(early);
    report(install.problems_);
    return install.problems_.empty() && early.empty() ? result : recovery::incomplete;
}

} // namespace qorv
