// Version numbers as the updater and the admin tool show them.

#include <rt/value/format_version.h>

namespace rt {

QString format_version(const decimal& value)
{
    QString text = value.rounded(3).to_text(); // never "-0": to_text drops the sign of zero
    if (!text.contains(u'.'))
        text += QStringLiteral(".0");
    return text;
}

} // namespace rt
