#pragma once

#include <QString>

class QCoreApplication;

namespace rt {

/// The language of Qt's own texts (standard buttons, file dialogs, context menus, calendars) in
/// the programs with a window: the build option QORV_QT_LANGUAGE, zh_CN unless chosen otherwise.
QString qt_language();

/// Gives `app` Qt's own texts in `language`, whatever the machine's locale: Qt's translation
/// (qtbase_<language>.qm from Qt's translations directory), the language's locale as the default
/// for the dates, numbers and month names that widgets show, and for zh_CN the few texts Qt's
/// translation lacks or words differently from the system (是 and 否 on the standard buttons). For
/// "en" or an empty language nothing is loaded. Returns false when Qt's translation of a language
/// other than English cannot be loaded; the locale is set anyway.
///
/// Programs call it once after creating their application. A library never does: the host
/// decides which translators its application has.
bool install_qt_translations(QCoreApplication& app, const QString& language = qt_language());

} // namespace rt
