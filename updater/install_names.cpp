#include "install_names.h"

#include <QRegularExpression>

namespace qorv {

namespace {

const QRegularExpression& scratch_pattern(QRegularExpression::PatternOptions options = {})
{
    static const QRegularExpression exact(QStringLiteral("^\\.qorv-([no])-[0-9a-f]{8}$"));
    static const QRegularExpression any_case(exact.pattern(),
                                             QRegularExpression::CaseInsensitiveOption);
    return options & QRegularExpression::CaseInsensitiveOption ? any_case : exact;
}

const QRegularExpression& previous_pattern(QRegularExpression::PatternOptions options = {})
{
    static const QRegularExpression exact(QStringLiteral("^\\..+\\.qorv-new-[0-9a-f]{8}$"),
                                          QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression any_case(
        exact.pattern(), exact.patternOptions() | QRegularExpression::CaseInsensitiveOption);
    return options & QRegularExpression::CaseInsensitiveOption ? any_case : exact;
}

} // namespace

QString scratch_file_name(scratch_kind kind, quint32 number)
{
    return QStringLiteral(".qorv-%1-%2")
        .arg(QLatin1Char(char(kind)))
        .arg(number, 8, 16, QLatin1Char('0'));
}

bool is_scratch_name(QStringView name, scratch_kind kind)
{
    const auto m = scratch_pattern().match(name);
    return m.hasMatch() && m.capturedView(1) == QLatin1Char(char(kind));
}

bool is_previous_temporary_name(QStringView name)
{
    return previous_pattern().match(name).hasMatch();
}

bool is_reserved_name(QStringView name)
{
    constexpr auto any_case = QRegularExpression::CaseInsensitiveOption;
    static const QRegularExpression separator(QStringLiteral("[/\\\\]"));
    for (const QStringView part : name.split(separator)) {
        if (part.compare(journal_name, Qt::CaseInsensitive) == 0 ||
            part.compare(journal_scratch_name, Qt::CaseInsensitive) == 0 ||
            scratch_pattern(any_case).match(part).hasMatch() ||
            previous_pattern(any_case).match(part).hasMatch())
            return true;
    }
    return false;
}

} // namespace qorv
