#pragma once

#include <QCommandLineParser>
#include <QString>

namespace qorv {

/// The parser's help text with the program named `name` ("qorv_update", "qorv_admin publish")
/// in its usage line, where the parser puts the path the program was started by.
QString help_text(const QCommandLineParser& parser, const QString& name);

} // namespace qorv
