#include "program_help.h"

namespace qorv {

QString help_text(const QCommandLineParser& parser, const QString& name)
{
    QString text = parser.helpText();
    const QLatin1String usage("Usage: ");
    const qsizetype end = text.indexOf(QLatin1String(" [options]"));
    if (text.startsWith(usage) && end > 0)
        text.replace(usage.size(), end - usage.size(), name);
    return text;
}

} // namespace qorv
