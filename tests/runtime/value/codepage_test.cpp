#include <rt/value/codepage.h>

#include <QTest>

#include <cstring>

class codepage_test : public QObject {
    Q_OBJECT

private slots:
    void ansiIsCodePage936ByDefault() { QCOMPARE(rt::ansi_codepage(), "windows-936-2000"); }

    void toAnsi_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("hex");

        QTest::newRow("中 is D6 D0") << QString::fromUtf8("中") << QByteArray("d6d0");
        QTest::newRow("mixed Chinese and ASCII")
            << QString::fromUtf8("中文abc") << QByteArray("d6d0cec4616263");
        QTest::newRow("ASCII unchanged")
            << QStringLiteral("ver=1.3") << QByteArray("7665723d312e33");
        QTest::newRow("euro sign of code page 936") << QString::fromUtf8("€") << QByteArray("80");
        QTest::newRow("character the code page lacks")
            << QString::fromUtf8("a😀b") << QByteArray("613f62");
        QTest::newRow("lone surrogate") << QString(QChar(0xD800)) << QByteArray("3f");
        QTest::newRow("default-ignorable characters the code page lacks")
            << QString::fromUtf8("a\u00ADb\u200Bc\uFEFF\uFE0F\u2060")
            << QByteArray("613f623f633f3f3f");
        QTest::newRow("empty") << QString() << QByteArray();
    }

    void toAnsi()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, hex);
        QCOMPARE(rt::to_ansi(text).toHex(), hex);
    }

    void fromAnsi_data()
    {
        QTest::addColumn<QByteArray>("hex");
        QTest::addColumn<QString>("text");

        QTest::newRow("D6 D0 is 中") << QByteArray("d6d0") << QString::fromUtf8("中");
        QTest::newRow("invalid trail byte")
            << QByteArray("8120") << QString::fromUtf8("\xEF\xBF\xBD ");
        QTest::newRow("lead byte at the end")
            << QByteArray("61d6") << QString::fromUtf8("a\xEF\xBF\xBD");
        QTest::newRow("empty") << QByteArray() << QString();
    }

    void fromAnsi()
    {
        QFETCH(QByteArray, hex);
        QFETCH(QString, text);
        QCOMPARE(rt::from_ansi(QByteArray::fromHex(hex)), text);
    }

    void roundTrip_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("codepage");

        const QString mixed = QString::fromUtf8("升级服务器 sql01\\数据库, 版本 1.3");
        QTest::newRow("ANSI") << mixed << QByteArray();
        QTest::newRow("GB18030 beyond the BMP")
            << QString::fromUtf8("考试😀") << QByteArray("GB18030");
        QTest::newRow("UTF-8") << mixed << QByteArray("UTF-8");
        QTest::newRow("Big5 traditional") << QString::fromUtf8("監考費") << QByteArray("Big5");
    }

    void roundTrip()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, codepage);
        if (codepage.isEmpty()) {
            QCOMPARE(rt::from_ansi(rt::to_ansi(text)), text);
        } else {
            const QByteArray bytes = rt::encode(text, codepage.constData());
            QVERIFY(!bytes.isEmpty());
            QCOMPARE(rt::decode(bytes, codepage.constData()), text);
        }
    }

    void gb18030FourByteForm()
    {
        QCOMPARE(rt::encode(QString::fromUtf8("😀"), "GB18030").toHex(), QByteArray("9439fc36"));
    }

    void unknownConverterGivesEmptyResult()
    {
        QVERIFY(rt::encode(u"abc", "no-such-codepage").isEmpty());
        QVERIFY(rt::decode("abc", "no-such-codepage").isEmpty());
        QVERIFY(rt::encode(u"abc", nullptr).isEmpty());
        QVERIFY(!rt::set_ansi_codepage("no-such-codepage"));
        QCOMPARE(rt::ansi_codepage(), "windows-936-2000");
    }

    void ansiCodePageCanBeChanged()
    {
        QVERIFY(rt::set_ansi_codepage("UTF-8"));
        const char* name = rt::ansi_codepage();
        const QByteArray bytes = rt::to_ansi(QString::fromUtf8("中"));
        QVERIFY(rt::set_ansi_codepage("windows-936-2000"));
        QCOMPARE(bytes.toHex(), QByteArray("e4b8ad"));
        // A name handed out earlier stays readable after the code page changed again.
        QCOMPARE(name, "UTF-8");
        QCOMPARE(rt::to_ansi(QString::fromUtf8("中")).toHex(), QByteArray("d6d0"));
    }
};

QTEST_GUILESS_MAIN(codepage_test)
#include "codepage_test.moc"
