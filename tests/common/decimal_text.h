#pragma once

#include <rt/value/decimal.h>

#include <QString>
#include <QtGlobal>

namespace qorv::test {

/// The decimal number written in `text` (test data); a text that is not a number ends the test
/// program, since the table holding it is wrong.
inline rt::decimal decimal_text(const char* text)
{
    const auto value = rt::decimal::from_text(QString::fromLatin1(text));
    if (!value)
        qFatal("not a number in the test data: %s", text);
    return *value;
}

} // namespace qorv::test
