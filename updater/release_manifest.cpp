#include "release_manifest.h"

#include <QList>

namespace qorv::release {

namespace {

const QByteArray first_line = QByteArrayLiteral("qorv release manifest 1");

bool is_hash(QByteArrayView text)
{
    if (text.size() != 64)
        return false;
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

bool is_digits(QByteArrayView text, qsizetype at_most)
{
    if (text.isEmpty() || text.size() > at_most)
        return false;
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

} // namespace

QString manifest::name_problem(const QString& name)
{
    if (name.isEmpty())
        return QStringLiteral("an empty file name");
    for (const QChar c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return QStringLiteral("the file name %1 holds a control character")
                .arg(QString(name).replace(c, QChar(u'?')));
    return {};
}

QByteArray manifest::text() const
{
    QByteArray out = first_line + '\n';
    out += "version " + version.toUtf8() + '\n';
    out += "files " + QByteArray::number(qsizetype(files.size())) + '\n';
    for (const manifest_file& f : files)
        out +=
            QByteArray::number(f.size) + ' ' + f.sha256.toLatin1() + ' ' + f.name.toUtf8() + '\n';
    return out;
}

std::optional<manifest> manifest::parse(QByteArrayView text, QString* why)
{
    const auto refuse = [&](const QString& reason) -> std::optional<manifest> {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    if (!text.endsWith('\n'))
        return refuse(QStringLiteral("the manifest does not end with a line feed"));
    const QList<QByteArray> lines = text.chopped(1).toByteArray().split('\n');
    if (lines.size() < 3 || lines[0] != first_line)
        return refuse(QStringLiteral("not a release manifest of this form"));

    manifest m;
    const QByteArray& version = lines[1];
    if (!version.startsWith("version ") || version.size() == 8)
        return refuse(QStringLiteral("the manifest has no version line"));
    for (const char c : version.mid(8))
        if ((c < '0' || c > '9') && c != '.')
            return refuse(QStringLiteral("the manifest's version is not a number"));
    m.version = QString::fromLatin1(version.mid(8));

    const QByteArray& count = lines[2];
    if (!count.startsWith("files ") || !is_digits(count.mid(6), 9))
        return refuse(QStringLiteral("the manifest has no file count"));
    if (count.mid(6).toLongLong() != lines.size() - 3)
        return refuse(QStringLiteral("the manifest's file count is not its number of files"));

    for (qsizetype i = 3; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        const qsizetype space = line.indexOf(' ');
        if (space < 0 || !is_digits(line.first(space), 18) || line.size() < space + 67 ||
            !is_hash(line.sliced(space + 1, 64)) || line[space + 65] != ' ')
            return refuse(QStringLiteral("line %1 of the manifest is not a file line").arg(i + 1));
        manifest_file f{QString::fromUtf8(line.sliced(space + 66)), line.first(space).toLongLong(),
                        QString::fromLatin1(line.sliced(space + 1, 64))};
        if (const QString problem = name_problem(f.name); !problem.isEmpty())
            return refuse(problem);
        m.files.push_back(std::move(f));
    }
    // Exactly one text per manifest: leading zeros, invalid UTF-8 and the like are refused.
    if (m.text() != text)
        return refuse(QStringLiteral("the manifest is not in its canonical form"));
    return m;
}

} // namespace qorv::release
