#include <rt/ui/qt_translations.h>

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstring>

#ifndef QORV_QT_LANGUAGE
#define QORV_QT_LANGUAGE "zh_CN"
#endif

namespace rt {

namespace {

struct text {
    const char* context;
    const char* source;
    const char* translation;
};

// What a user meets in the programs' windows that Qt's Simplified Chinese translation leaves in
// English, and the standard buttons that it words with an accelerator in brackets ("是(&Y)").
constexpr text zh_cn_texts[] = {
    {"QPlatformTheme", "&Yes", "是"},
    {"QPlatformTheme", "&No", "否"},
    {"QPlatformTheme", "Yes to &All", "全部是"},
    {"QPlatformTheme", "N&o to All", "全部否"},
    {"QCalendarWidget", "Previous Month", "上个月"},
    {"QCalendarWidget", "Next Month", "下个月"},
    {"QCalendarWidget", "Week", "周"},
    {"QFileDialog", "Files (*)", "文件 (*)"},
};

// Answers before Qt's translation (translators installed later are asked first) for the texts
// above; anything else falls through to Qt's.
class supplement final : public QTranslator {
public:
    using QTranslator::QTranslator;

    QString translate(const char* context, const char* source, const char* disambiguation,
                      int) const override
    {
        if (context == nullptr || source == nullptr || disambiguation != nullptr)
            return {};
        for (const text& t : zh_cn_texts)
            if (std::strcmp(t.context, context) == 0 && std::strcmp(t.source, source) == 0)
                return QString::fromUtf8(t.translation);
        return {};
    }
    bool isEmpty() const override { return false; }
};

} // namespace

QString qt_language()
{
    return QStringLiteral(QORV_QT_LANGUAGE);
}

bool install_qt_translations(QCoreApplication& app, const QString& language)
{
    if (language.isEmpty() || language == u"en" || language.startsWith(u"en_")) {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        return true;
    }
    const QLocale locale(language);
    QLocale::setDefault(locale);
    auto* qt = new QTranslator(&app);
    const bool loaded = qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                                 QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    if (loaded)
        QCoreApplication::installTranslator(qt);
    else
        delete qt;
    if (locale.language() == QLocale::Chinese &&
        locale.script() != QLocale::TraditionalChineseScript)
        QCoreApplication::installTranslator(new supplement(&app));
    return loaded;
}

} // namespace rt
