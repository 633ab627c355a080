#include "install_journal.h"

#include "file_sync.h"
#include "install_step.h"
#include "target_path.h"

#include <QDir>
#include <QFileInfo>

#include <filesystem>
#include <optional>
#include <system_error>

namespace qorv {

namespace {

const QByteArray staging_header = "qorv-journal 2 staging";
const QByteArray commit_header = "qorv-journal 2 commit";

const char* phase_name(install_phase phase)
{
    switch (phase) {
    case install_phase::moving:
        return "moving";
    case install_phase::undoing:
        return "undoing";
    case install_phase::done:
        return "done";
    case install_phase::staging:
    case install_phase::closed:
        break;
    }
    return nullptr;
}

std::optional<qsizetype> count_of(const QByteArray& field)
{
    bool ok = false;
    const qsizetype n = field.toLongLong(&ok);
    if (!ok || n < 0 || field != QByteArray::number(n)) // digits only, no sign or blanks
        return std::nullopt;
    return n;
}

/// Reads one file record ("file" or "link") into `f`; false when it is not one the journal
/// writes or names a file outside `base`.
bool read_file_record(const QString& base, const QList<QByteArray>& fields, staged_file* f,
                      QString* why)
{
    const auto refuse = [why](const QString& reason) {
        *why = reason;
        return false;
    };
    if (fields.size() != 4 ||
        !is_scratch_name(QString::fromUtf8(fields[1]), scratch_kind::new_file) ||
        !is_scratch_name(QString::fromUtf8(fields[2]), scratch_kind::old_file))
        return refuse(QStringLiteral("a file record is malformed"));
    // The journal is only trusted with files inside the installation.
    const auto named =
        target_path(base, QString::fromUtf8(QByteArray::fromPercentEncoding(fields[3])));
    if (!named)
        return refuse(QStringLiteral("a file record names a file outside the installation"));
    QString target = QFileInfo(*named).absoluteFilePath();
    if (fields[0] == "link") {
        f->link = target;
        target = QFileInfo(target).isSymLink() ? QFileInfo(target).canonicalFilePath() : QString();
        if (target.isEmpty())
            return refuse(QStringLiteral("%1 is no longer a link to a file").arg(f->link));
    }
    const QDir dir(QFileInfo(target).absolutePath());
    f->target = target;
    f->temporary = dir.filePath(QString::fromUtf8(fields[1]));
    f->backup = dir.filePath(QString::fromUtf8(fields[2]));
    return true;
}

} // namespace

journal_file::journal_file(QString base) : base_(std::move(base)) {}

journal_file::~journal_file() = default;

QString journal_file::path() const
{
    return QDir(base_).filePath(journal_name);
}

bool journal_file::create()
{
    auto file = std::make_unique<QFile>(path());
    if (!file->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
        return false;
    file_ = std::move(file);
    if (append(staging_header + '\n'))
        return true;
    file_.reset();
    QFile::remove(path());
    return false;
}

bool journal_file::reopen()
{
    auto file = std::make_unique<QFile>(path());
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return false;
    file_ = std::move(file);
    return true;
}

QByteArray journal_file::file_record(const staged_file& f) const
{
    const bool linked = !f.link.isEmpty();
    const QString named = QDir(base_).relativeFilePath(linked ? f.link : f.target);
    return QByteArray(linked ? "link " : "file ") + QFileInfo(f.temporary).fileName().toUtf8() +
           ' ' + QFileInfo(f.backup).fileName().toUtf8() + ' ' +
           named.toUtf8().toPercentEncoding("/") + '\n';
}

bool journal_file::record_file(const staged_file& f)
{
    return append(file_record(f));
}

bool journal_file::commit(const std::vector<staged_file>& files)
{
    QByteArray text = commit_header + '\n';
    QByteArray flags;
    for (const staged_file& f : files) {
        text += file_record(f);
        flags += f.had_old ? '1' : '0';
    }
    text += "moving " + QByteArray::number(qsizetype(files.size()));
    text += (files.empty() ? QByteArray() : ' ' + flags) + '\n';

    // Written whole beside the journal and renamed over it: the journal is the staging one or
    // the whole commit journal, never a part of it.
    close();
    const QString scratch = QDir(base_).filePath(journal_scratch_name);
    bool ok = write_synced(scratch, text);
    detail::step("journal-written");
    std::error_code ec;
    if (ok) {
        std::filesystem::rename(native_path(scratch), native_path(path()), ec);
        ok = !ec;
    }
    if (!ok) {
        std::filesystem::remove(native_path(scratch), ec);
        return false;
    }
    sync_directory(base_);
    detail::step("journal");
    // Committed now, whether or not records can be added later.
    reopen();
    return true;
}

bool journal_file::record_phase(install_phase phase, const std::vector<staged_file>& files,
                                bool durable)
{
    if (phase != install_phase::undoing && phase != install_phase::done)
        return false;
    const QByteArray count = QByteArray::number(qsizetype(files.size()));
    if (!append(QByteArray(phase_name(phase)) + ' ' + count + '\n'))
        return false;
    return !durable || sync_data(*file_);
}

void journal_file::close()
{
    file_.reset();
}

bool journal_file::append(const QByteArray& record)
{
    if (!file_)
        return false;
    const qint64 end = file_->size();
    if (file_->write(record) != record.size()) {
        // A record written in part (a full disk) is taken back, so that the journal stays whole.
        file_->resize(end);
        return false;
    }
    detail::step("journal");
    return true;
}

journal_status read_journal(const QString& base, install_journal* journal, QString* why)
{
    QString reason;
    const auto unreadable = [&](const QString& text) {
        if (why)
            *why = text;
        return journal_status::unreadable;
    };
    const QString path = QDir(base).filePath(journal_name);
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return journal_status::absent;
    if (!info.isFile() || info.isSymLink())
        return unreadable(QStringLiteral("not a regular file"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return unreadable(file.errorString());
    QList<QByteArray> lines = file.readAll().split('\n');
    if (file.error() != QFile::NoError)
        return unreadable(file.errorString());
    // After the last line break: an append that did not complete, so nothing was done after it.
    lines.removeLast();
    if (lines.isEmpty() || (lines[0] != staging_header && lines[0] != commit_header))
        return unreadable(QStringLiteral("not an install journal of this updater"));
    const bool committed = lines[0] == commit_header;

    install_journal read;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines[i].split(' ');
        if (fields[0] == "file" || fields[0] == "link") {
            if (read.phase != install_phase::staging)
                return unreadable(QStringLiteral("a file is recorded after the moving record"));
            staged_file f;
            if (!read_file_record(base, fields, &f, &reason))
                return unreadable(reason);
            read.files.push_back(std::move(f));
            continue;
        }
        if (!committed)
            return unreadable(
                QStringLiteral("line %1 is not a record of a staging journal").arg(i + 1));
        install_phase phase = install_phase::closed;
        for (const install_phase p :
             {install_phase::moving, install_phase::undoing, install_phase::done})
            if (fields[0] == phase_name(p))
                phase = p;
        const auto count = fields.size() >= 2 ? count_of(fields[1]) : std::nullopt;
        if (phase == install_phase::closed || !count)
            return unreadable(QStringLiteral("line %1 is not a record of the journal").arg(i + 1));
        if (*count != qsizetype(read.files.size()))
            return unreadable(QStringLiteral("the %1 record counts %2 files, the journal names %3")
                                  .arg(QLatin1String(fields[0]))
                                  .arg(*count)
                                  .arg(read.files.size()));
        // The phases follow one another: moving once, then undoing or done, each maybe again.
        const bool follows = phase == install_phase::moving
                                 ? read.phase == install_phase::staging
                                 : read.phase == install_phase::moving || read.phase == phase;
        if (!follows)
            return unreadable(
                QStringLiteral("the %1 record is out of order").arg(QLatin1String(fields[0])));
        if (phase == install_phase::moving) {
            const QByteArray flags = *count > 0 && fields.size() == 3 ? fields[2] : QByteArray();
            if (fields.size() != (*count > 0 ? 3 : 2) || flags.size() != *count ||
                flags.count('0') + flags.count('1') != *count)
                return unreadable(QStringLiteral("the moving record is malformed"));
            for (qsizetype k = 0; k < *count; ++k)
                read.files[std::size_t(k)].had_old = flags[k] == '1';
        } else if (fields.size() != 2) {
            return unreadable(QStringLiteral("line %1 is not a record of the journal").arg(i + 1));
        }
        read.phase = phase;
    }
    if (committed && read.phase == install_phase::staging)
        return unreadable(QStringLiteral("the commit journal ends before its moving record"));
    *journal = std::move(read);
    return journal_status::read;
}

} // namespace qorv
