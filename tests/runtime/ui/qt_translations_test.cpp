// Qt's own texts in the programs' language, whatever the locale the test runs under: Qt's
// translation with the system's wording of the standard buttons, and the language's locale.

#include <rt/ui/qt_translations.h>

#include <QCoreApplication>
#include <QLocale>
#include <QTest>

class qt_translations_test : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCOMPARE(rt::qt_language(), QStringLiteral("zh_CN")); // the build's default
        QVERIFY(rt::install_qt_translations(*QCoreApplication::instance()));
    }

    void texts_data()
    {
        QTest::addColumn<QString>("context");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("shown");
        QTest::newRow("OK") << "QPlatformTheme"
                            << "OK"
                            << "确定";
        QTest::newRow("Yes, without the accelerator in brackets") << "QPlatformTheme"
                                                                  << "&Yes"
                                                                  << "是";
        QTest::newRow("No") << "QPlatformTheme"
                            << "&No"
                            << "否";
        QTest::newRow("Cancel") << "QPlatformTheme"
                                << "Cancel"
                                << "取消";
        QTest::newRow("file dialog") << "QFileDialog"
                                     << "Look in:"
                                     << "查找范围：";
        QTest::newRow("context menu") << "QLineEdit"
                                      << "&Copy"
                                      << "复制(&C)";
        QTest::newRow("missing from Qt's translation") << "QCalendarWidget"
                                                       << "Next Month"
                                                       << "下个月";
    }
    void texts()
    {
        QFETCH(QString, context);
        QFETCH(QString, source);
        QFETCH(QString, shown);
        QCOMPARE(QCoreApplication::translate(qPrintable(context), qPrintable(source)), shown);
    }

    void theLanguagesLocaleIsTheDefault()
    {
        QCOMPARE(QLocale().language(), QLocale::Chinese);
        QCOMPARE(QLocale().monthName(7), QStringLiteral("七月"));
    }
};

QTEST_GUILESS_MAIN(qt_translations_test)
#include "qt_translations_test.moc"
