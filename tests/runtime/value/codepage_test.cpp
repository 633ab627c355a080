#include <rt/value/codepage.h>

#include <QTest>

#include <cstring>
#include <limits>
#include <optional>

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

    void tableGivesTheConvertersBytes_data()
    {
        QTest::addColumn<QString>("text");

        QString bmp;
        for (char32_t c = 0; c < 0x10000; ++c) {
            if (!QChar::isSurrogate(c))
                bmp += QChar(static_cast<char16_t>(c));
        }
        QTest::newRow("every character of the BMP") << bmp;
        QTest::newRow("a surrogate pair goes to the converter")
            << QString::fromUtf8("中😀文") + QChar(0xDC00);
    }

    void tableGivesTheConvertersBytes()
    {
        QFETCH(QString, text);
        QCOMPARE(rt::to_ansi(text), rt::encode(text, "windows-936-2000"));
    }

    void cut_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qsizetype>("max_bytes");
        QTest::addColumn<qsizetype>("max_chars");
        QTest::addColumn<QByteArray>("hex");
        QTest::addColumn<qsizetype>("units");

        const QString mixed = QString::fromUtf8("中文abc");
        const qsizetype any = std::numeric_limits<qsizetype>::max();
        QTest::newRow("whole text fits")
            << mixed << qsizetype(7) << any << QByteArray("d6d0cec4616263") << qsizetype(5);
        QTest::newRow("never half a double-byte character")
            << mixed << qsizetype(3) << any << QByteArray("d6d0") << qsizetype(1);
        QTest::newRow("one byte short of the first character")
            << mixed << qsizetype(1) << any << QByteArray() << qsizetype(0);
        QTest::newRow("zero bytes") << mixed << qsizetype(0) << any << QByteArray() << qsizetype(0);
        QTest::newRow("ASCII cut to the byte") << QStringLiteral("abcdef") << qsizetype(4) << any
                                               << QByteArray("61626364") << qsizetype(4);
        QTest::newRow("character limit first")
            << mixed << qsizetype(100) << qsizetype(3) << QByteArray("d6d0cec461") << qsizetype(3);
        QTest::newRow("a surrogate pair is one character, never split")
            << QString::fromUtf8("a😀b") << qsizetype(3) << qsizetype(2) << QByteArray("613f")
            << qsizetype(3);
        QTest::newRow("empty") << QString() << qsizetype(10) << any << QByteArray() << qsizetype(0);
    }

    void cut()
    {
        QFETCH(QString, text);
        QFETCH(qsizetype, max_bytes);
        QFETCH(qsizetype, max_chars);
        QFETCH(QByteArray, hex);
        QFETCH(qsizetype, units);
        QCOMPARE(rt::to_ansi_cut(text, max_bytes, max_chars).toHex(), hex);
        QCOMPARE(rt::ansi_cut_length(text, max_bytes, max_chars), units);
    }

    void cutCountsTheBytesOfTheCodePageInUse()
    {
        // Three bytes a Chinese character in UTF-8: four bytes hold one, not two.
        QVERIFY(rt::set_ansi_codepage("UTF-8"));
        const QByteArray bytes = rt::to_ansi_cut(QString::fromUtf8("中文"), 4);
        QVERIFY(rt::set_ansi_codepage("windows-936-2000"));
        QCOMPARE(bytes.toHex(), QByteArray("e4b8ad"));
    }

    void lossless_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("missing");

        QTest::newRow("Chinese and ASCII") << QString::fromUtf8("升级 sql01") << QString();
        QTest::newRow("a character outside the code page, listed once")
            << QString::fromUtf8("a😀b😀ü€") << QString::fromUtf8("😀");
        QTest::newRow("a default-ignorable the code page lacks")
            << QString::fromUtf8("a\u200Bb") << QString::fromUtf8("\u200B");
        QTest::newRow("a question mark is kept") << QStringLiteral("why?") << QString();
        QTest::newRow("empty") << QString() << QString();
    }

    void lossless()
    {
        QFETCH(QString, text);
        QFETCH(QString, missing);
        const std::optional<QByteArray> bytes = rt::to_ansi_lossless(text);
        QCOMPARE(bytes.has_value(), missing.isEmpty());
        if (bytes)
            QCOMPARE(*bytes, rt::to_ansi(text));
        QCOMPARE(rt::ansi_missing_characters(text), missing);
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
