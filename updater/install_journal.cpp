#include "install_journal.h"

#include "file_sync.h"
#include "install_step.h"
#include "target_path.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <optional>
#include <system_error>

namespace qorv {

namespace {

const char* const phase_names[] = {"staging", "moving", "undoing", "done"};

} // namespace

QString scratch_file_name(scratch_kind kind, quint32 number)
{
    return QStringLiteral(".qorv-%1-%2")
        .arg(QLatin1Char(char(kind)))
        .arg(number, 8, 16, QLatin1Char('0'));
}

bool is_scratch_name(const QString& name, scratch_kind kind)
{
    static const QRegularExpression pattern(QStringLiteral("^\\.qorv-([no])-[0-9a-f]{8}$"));
    const auto m = pattern.match(name);
    return m.hasMatch() && m.captured(1) == QLatin1Char(char(kind));
}

bool write_journal(const QString& base, const install_journal& journal)
{
    if (journal.phase == install_phase::closed)
        return false;
    QByteArray text = "qorv-journal 1\n";
    text += phase_names[static_cast<int>(journal.phase)];
    text += '\n';
    for (const staged_file& f : journal.files) {
        text += "file " + QByteArray(f.had_old ? "1 " : "0 ") +
                QFileInfo(f.temporary).fileName().toUtf8() + ' ' +
                QFileInfo(f.backup).fileName().toUtf8() + ' ' +
                QDir(base).relativeFilePath(f.target).toUtf8().toPercentEncoding("/") + '\n';
    }

    // Written whole beside the journal and renamed over it: the journal is always one complete
    // version or the next.
    const QString path = QDir(base).filePath(journal_name);
    const QString scratch = path + QStringLiteral(".new");
    bool ok = write_synced(scratch, text);
    detail::step("journal-written");
    std::error_code ec;
    if (ok) {
        std::filesystem::rename(native_path(scratch), native_path(path), ec);
        ok = !ec;
    }
    if (!ok) {
        std::filesystem::remove(native_path(scratch), ec);
        return false;
    }
    sync_directory(base);
    detail::step("journal");
    return true;
}

journal_status read_journal(const QString& base, install_journal* journal)
{
    QFile file(QDir(base).filePath(journal_name));
    if (!file.exists())
        return journal_status::absent;
    bool valid = file.open(QIODevice::ReadOnly);
    const QList<QByteArray> lines = file.readAll().split('\n');
    valid = valid && lines.size() >= 3 && lines[0] == "qorv-journal 1" && lines.back().isEmpty();
    std::optional<install_phase> phase;
    for (int i = 0; valid && i < 4; ++i)
        if (lines[1] == phase_names[i])
            phase = static_cast<install_phase>(i);
    valid = valid && phase.has_value();
    install_journal read;
    for (qsizetype i = 2; valid && i < lines.size() - 1; ++i) {
        const QList<QByteArray> fields = lines[i].split(' ');
        valid = fields.size() == 5 && fields[0] == "file" &&
                (fields[1] == "0" || fields[1] == "1") &&
                is_scratch_name(QString::fromUtf8(fields[2]), scratch_kind::new_file) &&
                is_scratch_name(QString::fromUtf8(fields[3]), scratch_kind::old_file);
        if (!valid)
            break;
        // The journal is only trusted with files inside the installation.
        const auto target =
            target_path(base, QString::fromUtf8(QByteArray::fromPercentEncoding(fields[4])));
        valid = target.has_value();
        if (!valid)
            break;
        const QString dir = QFileInfo(*target).absolutePath();
        read.files.push_back({QFileInfo(*target).absoluteFilePath(),
                              QDir(dir).filePath(QString::fromUtf8(fields[2])),
                              QDir(dir).filePath(QString::fromUtf8(fields[3])), fields[1] == "1"});
    }
    if (!valid)
        return journal_status::unreadable;
    read.phase = *phase;
    *journal = std::move(read);
    return journal_status::read;
}

} // namespace qorv
