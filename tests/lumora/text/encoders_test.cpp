#include <lumora/text/u_orlen_fun.h>

#include "text_p.h"

#include <QRandomGenerator>
#include <QStringEncoder>
#include <QTest>

using lumora::encoding;
using rt::decimal;

Q_DECLARE_METATYPE(lumora::encoding)

namespace {

QString u8(const char* text)
{
    return QString::fromUtf8(text);
}

/// The bytes of `text` in `code` from Qt's and ICU's converters, as upper-case hex.
QString hex_bytes(const QString& text, encoding code)
{
    QByteArray bytes;
    switch (code) {
    case encoding::ansi: {
        // Character by character: where Qt's converter drops a default-ignorable character the
        // code page lacks (U+00AD, U+200B, U+FEFF, ...), the promise is '?'.
        QStringEncoder gbk("GBK", QStringConverter::Flag::Stateless);
        for (const QChar c : text) {
            const QByteArray one = gbk.encode(QStringView(&c, 1));
            bytes += one.isEmpty() ? QByteArray("?") : one;
        }
        break;
    }
    case encoding::utf8:
        bytes = QStringEncoder(QStringConverter::Utf8).encode(text);
        break;
    case encoding::utf16le:
        bytes = QStringEncoder(QStringConverter::Utf16LE).encode(text);
        break;
    case encoding::utf16be:
        bytes = QStringEncoder(QStringConverter::Utf16BE).encode(text);
        break;
    }
    return QString::fromLatin1(bytes.toHex().toUpper());
}

/// Mixed Chinese and ASCII text (letters, digits, blanks), the same for every run.
QString mixed_text(int length, quint32 seed)
{
    QRandomGenerator random(seed);
    QString text;
    for (int i = 0; i < length; ++i) {
        if (random.bounded(3) == 0)
            text += QChar(static_cast<char16_t>(0x4e00 + random.bounded(0x51a5)));
        else
            text += QChar(static_cast<char16_t>(u"abcXYZ019 ,."[random.bounded(12)]));
    }
    return text;
}

const QList<encoding> all_codes{encoding::ansi, encoding::utf16le, encoding::utf8,
                                encoding::utf16be};

} // namespace

class encoders_test : public QObject {
    Q_OBJECT

    const lumora::u_orlen_fun fun{};

private slots:
    void initTestCase()
    {
        if (!QStringEncoder("GBK").isValid())
            QSKIP("Qt was built without ICU: no GBK converter to compare with");
    }

    void hexencode_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<encoding>("code");
        QTest::addColumn<QString>("expected");

        QTest::newRow("a ANSI") << "a" << encoding::ansi << "61";
        QTest::newRow("a UTF-16LE") << "a" << encoding::utf16le << "6100";
        QTest::newRow("a UTF-8") << "a" << encoding::utf8 << "61";
        QTest::newRow("a UTF-16BE") << "a" << encoding::utf16be << "0061";
        QTest::newRow("中 ANSI is code page 936") << u8("中") << encoding::ansi << "D6D0";
        QTest::newRow("中 UTF-16LE") << u8("中") << encoding::utf16le << "2D4E";
        QTest::newRow("中 UTF-8") << u8("中") << encoding::utf8 << "E4B8AD";
        QTest::newRow("中 UTF-16BE") << u8("中") << encoding::utf16be << "4E2D";
        QTest::newRow("mixed ANSI") << u8("a中b") << encoding::ansi << "61D6D062";
        QTest::newRow("mixed UTF-8") << u8("a中b") << encoding::utf8 << "61E4B8AD62";
        QTest::newRow("mixed UTF-16LE") << u8("a中b") << encoding::utf16le << "61002D4E6200";
        QTest::newRow("mixed UTF-16BE") << u8("a中b") << encoding::utf16be << "00614E2D0062";
        QTest::newRow("unit below 0x1000 loses its leading zero")
            << "\na" << encoding::utf8 << "A61";
        QTest::newRow("unit 0A00 keeps the wrong two digits") << "\n" << encoding::ansi << "A0";
        QTest::newRow("UTF-16 pads every unit") << "\n" << encoding::utf16le << "0A00";
        QTest::newRow("NUL ends the units")
            << QString::fromLatin1("a\0b", 3) << encoding::utf16be << "0061";
        QTest::newRow("surrogate pair UTF-8") << u8("😀") << encoding::utf8 << "F09F9880";
        QTest::newRow("surrogate pair UTF-16LE") << u8("😀") << encoding::utf16le << "3DD800DE";
        QTest::newRow("surrogate pair UTF-16BE") << u8("😀") << encoding::utf16be << "D83DDE00";
        QTest::newRow("not in code page 936") << u8("😀") << encoding::ansi << "3F";
        QTest::newRow("default-ignorables not in code page 936 are ?")
            << u8("a\u00ADb\u200Bc") << encoding::ansi << "613F623F63";
        QTest::newRow("empty") << "" << encoding::utf8 << "";
    }

    void hexencode()
    {
        QFETCH(QString, text);
        QFETCH(encoding, code);
        QFETCH(QString, expected);
        QCOMPARE(fun.hexencode(text, code), expected);
        QCOMPARE(fun.hexstring(text, code), expected);
    }

    void hexencode_null() { QCOMPARE(fun.hexencode(std::nullopt, encoding::utf8), QString()); }

    // The 50-character / 100-byte rule: which bytes survive, against independent converters.
    void hexencode_buffer_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<encoding>("code");
        QTest::addColumn<int>("kept_bytes"); // -1: all

        const QString chinese34 = QString(34, QChar(0x4e2d));
        QTest::newRow("50 ASCII in UTF-16 fill the buffer exactly")
            << QString(50, u'a') << encoding::utf16le << 100;
        QTest::newRow("34 Chinese in UTF-8: bytes beyond 100 lost")
            << chinese34 << encoding::utf8 << 100;
        QTest::newRow("33 Chinese in UTF-8 fit")
            << QString(33, QChar(0x4e2d)) << encoding::utf8 << -1;
        QTest::newRow("50 Chinese in UTF-16BE: 100 of 100 bytes")
            << QString(50, QChar(0x4e2d)) << encoding::utf16be << 100;
        QTest::newRow("51 characters take the long path")
            << chinese34 + QString(17, u'x') << encoding::utf8 << -1;
        QTest::newRow("51 Chinese in UTF-16LE: all 102 bytes")
            << QString(51, QChar(0x4e2d)) << encoding::utf16le << -1;
        QTest::newRow("long odd byte count pairs the last byte with zero")
            << QString(51, u'q') << encoding::utf8 << -1;
        QTest::newRow("long mixed text ANSI") << mixed_text(300, 1) << encoding::ansi << -1;
        QTest::newRow("long mixed text UTF-8") << mixed_text(300, 2) << encoding::utf8 << -1;
        QTest::newRow("long mixed text UTF-16LE") << mixed_text(300, 3) << encoding::utf16le << -1;
        QString bmp; // every character the quick code page 936 table holds
        for (char32_t c = 0x20; c < 0x10000; ++c) { // no byte below 0x10
            if (!QChar::isSurrogate(c))
                bmp += QChar(static_cast<char16_t>(c));
        }
        QTest::newRow("whole BMP ANSI") << bmp << encoding::ansi << -1;
        QTest::newRow("long mixed text UTF-16BE") << mixed_text(300, 4) << encoding::utf16be << -1;
    }

    void hexencode_buffer()
    {
        QFETCH(QString, text);
        QFETCH(encoding, code);
        QFETCH(int, kept_bytes);
        QString expected = hex_bytes(text, code);
        if (kept_bytes >= 0)
            expected.truncate(2 * kept_bytes);
        const QString digits = fun.hexencode(text, code);
        QCOMPARE(digits, expected);
        // No more memory kept than the digits need, within a tenth (plus Qt's own slack).
        QVERIFY2(digits.capacity() <= digits.size() + digits.size() / 10 + 16,
                 qPrintable(QString::number(digits.capacity())));
    }

    void hexdecode_data()
    {
        QTest::addColumn<QString>("digits");
        QTest::addColumn<encoding>("code");
        QTest::addColumn<QString>("expected");

        QTest::newRow("last digit ignored ANSI") << "414" << encoding::ansi << "A";
        QTest::newRow("last digit ignored UTF-8") << "414" << encoding::utf8 << "A";
        QTest::newRow("中 ANSI") << "D6D0" << encoding::ansi << u8("中");
        QTest::newRow("中 UTF-8") << "E4B8AD" << encoding::utf8 << u8("中");
        QTest::newRow("中 UTF-16LE") << "2D4E" << encoding::utf16le << u8("中");
        QTest::newRow("中 UTF-16BE") << "4E2D" << encoding::utf16be << u8("中");
        QTest::newRow("ends at U+0000") << "61006200" << encoding::ansi << "a";
        QTest::newRow("UTF-16 zero high byte is no end") << "00410042" << encoding::utf16be << "AB";
        QTest::newRow("lower case reads as todec does") << "ff" << encoding::utf8 << "\x1f";
        QTest::newRow("pair above 255 keeps the low eight bits") << "ZZ" << encoding::utf8 << "S";
        QTest::newRow("invalid UTF-8 becomes U+FFFD") << "FF" << encoding::utf8 << u8("\uFFFD");
        QTest::newRow("byte-order mark is a character")
            << "FEFF0041" << encoding::utf16be << QString(QChar(0xfeff)) + u'A';
        QTest::newRow("empty") << "" << encoding::utf8 << "";
    }

    void hexdecode()
    {
        QFETCH(QString, digits);
        QFETCH(encoding, code);
        QFETCH(QString, expected);
        QCOMPARE(fun.hexdecode(digits, code), expected);
    }

    // The quick byte of a pair equals todec in base 16 for every pair of an awkward alphabet.
    void pair_byte_equals_todec()
    {
        const QString alphabet =
            u8("0159AFZaf-+. %~中:@[") + QChar(0xffff) + QChar(0xd800) + QChar(0xdc00);
        for (const QChar a : alphabet) {
            for (const QChar b : alphabet) {
                const QString pair = QString(a) + b;
                const auto whole = lumora::detail::todec(pair, decimal(16)).truncated().to_int64();
                QVERIFY(whole);
                QCOMPARE(int(lumora::detail::hex_pair_byte(a, b)), int(*whole & 0xff));
            }
        }
    }

    void hex_round_trip_data()
    {
        QTest::addColumn<encoding>("code");
        for (const encoding code : all_codes)
            QTest::newRow(qPrintable(QString("code %1").arg(int(code)))) << code;
    }

    void hex_round_trip()
    {
        QFETCH(encoding, code);
        for (const int length : {1, 7, 33, 50, 51, 500}) {
            // Letters, digits, blanks and CJK: every unit starts with a byte of 0x10 or more.
            QString text = mixed_text(length, quint32(length));
            if (length <= 50 && code == encoding::utf8)
                text.truncate(20); // stays within the 100-byte buffer
            QCOMPARE(fun.hexdecode(fun.hexencode(text, code), code), text);
        }
    }

    void hexencode_utf8_of_long_texts_matches_the_units_of_its_bytes_data()
    {
        QTest::addColumn<QString>("alphabet"); // characters the random texts are made of
        QTest::addColumn<int>("length");
        const QString all = u8("aZ09 ~\u00e9\u00ff\u0100\u0800\u4e2d\u6587\uffff") +
                            QString::fromUcs4(U"\U0001F600\U00010000");
        QTest::newRow("ASCII") << u8("abcXYZ019 ~") << 51;
        QTest::newRow("odd byte count") << u8("abc") << 51;
        QTest::newRow("two-byte characters") << u8("\u00e9\u00ff\u0100\u07ff") << 200;
        QTest::newRow("CJK and ASCII") << u8("\u4e2d\u6587ab") << 1000;
        QTest::newRow("characters beyond the BMP")
            << QString::fromUcs4(U"\U0001F600a\U00010000") << 300;
        QTest::newRow("everything") << all << 5000;
        QTest::newRow("NUL ends the digits") << all + QChar(0) + QChar(0) << 400;
        QTest::newRow("control characters give short units") << u8("\t\n\x01\x0f\x10"
                                                                   "a\u00e9\u4e2d")
                                                             << 3000;
        QTest::newRow("lone surrogates") << all + QChar(0xd800) + QChar(0xdc00) << 400;
    }

    void hexencode_utf8_of_long_texts_matches_the_units_of_its_bytes()
    {
        QFETCH(QString, alphabet);
        QFETCH(int, length);
        QRandomGenerator random{quint32(length)};
        for (int round = 0; round < 20; ++round) {
            QString text;
            while (text.size() < length) {
                const int k = int(random.bounded(alphabet.size()));
                // Pick a whole surrogate pair where the alphabet has one.
                if (alphabet[k].isHighSurrogate() && k + 1 < alphabet.size() &&
                    alphabet[k + 1].isLowSurrogate())
                    text += alphabet.mid(k, 2);
                else if (!alphabet[k].isLowSurrogate() ||
                         (k > 0 && !alphabet[k - 1].isHighSurrogate()))
                    text += alphabet[k];
            }
            // The units of the UTF-8 bytes, written out directly.
            const QByteArray bytes = text.toUtf8();
            QString expected;
            for (qsizetype i = 0; i < bytes.size(); i += 2) {
                const unsigned hi = quint8(bytes[i]),
                               lo = i + 1 < bytes.size() ? quint8(bytes[i + 1]) : 0u;
                const unsigned v = (hi << 8) | lo;
                if (v == 0)
                    break;
                QString digits = QString::number(v, 16).toUpper();
                if (hi >= 0x10 && lo != 0)
                    digits = digits.rightJustified(4, QLatin1Char('0'));
                else if (digits.size() >= 3 && lo == 0)
                    digits.truncate(2);
                expected += digits;
            }
            const QString digits = fun.hexencode(text, encoding::utf8);
            QCOMPARE(digits, expected);
            // No more memory kept than the digits need, within a tenth (plus Qt's own slack).
            QVERIFY2(digits.capacity() <= digits.size() + digits.size() / 10 + 16,
                     qPrintable(QString::number(digits.capacity())));
        }
    }

    void urlencode_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<encoding>("code");
        QTest::addColumn<QString>("expected");

        QTest::newRow("UTF-8 mixed") << u8("a中b") << encoding::utf8 << "a%E4%B8%ADb";
        QTest::newRow("ANSI mixed") << u8("a中b") << encoding::ansi << "a%D6%D0b";
        QTest::newRow("UTF-16LE") << u8("a中b") << encoding::utf16le << "a%2D%4Eb";
        QTest::newRow("UTF-16BE") << u8("a中b") << encoding::utf16be << "a%4E%2Db";
        QTest::newRow("reserved characters never escaped")
            << "a b%&=?/+#" << encoding::utf8 << "a b%&=?/+#";
        QTest::newRow("U+4DFF below the limit") << u8("\u4DFF") << encoding::utf8 << u8("\u4DFF");
        QTest::newRow("U+4E00 escaped") << u8("\u4E00") << encoding::utf8 << "%E4%B8%80";
        QTest::newRow("full-width letter escaped") << u8("Ａ") << encoding::utf8 << "%EF%BC%A1";
        QTest::newRow("surrogate pair is one character UTF-8")
            << u8("x😀") << encoding::utf8 << "x%F0%9F%98%80";
        QTest::newRow("surrogate pair is one character UTF-16LE")
            << u8("😀") << encoding::utf16le << "%3D%D8%00%DE";
        QTest::newRow("surrogate pair not in code page 936") << u8("😀") << encoding::ansi << "%3F";
        QTest::newRow("Chinese run") << u8("中文") << encoding::ansi << "%D6%D0%CE%C4";
        QTest::newRow("byte-order mark and variation selector are ?")
            << u8("中\uFEFF\uFE0F文") << encoding::ansi << "%D6%D0%3F%3F%CE%C4";
    }

    void urlencode()
    {
        QFETCH(QString, text);
        QFETCH(encoding, code);
        QFETCH(QString, expected);
        QCOMPARE(fun.urlencode(text, code), expected);
    }

    void urldecode_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<encoding>("code");
        QTest::addColumn<QString>("expected");

        QTest::newRow("ANSI") << "a%D6%D0b" << encoding::ansi << u8("a中b");
        QTest::newRow("character over three escapes")
            << "%E4%B8%AD%E6%96%87" << encoding::utf8 << u8("中文");
        QTest::newRow("plain text kept") << "a b+c" << encoding::utf8 << "a b+c";
        QTest::newRow("% at the end") << "100%" << encoding::utf8 << "100";
        QTest::newRow("% with one character at the end") << "a%4" << encoding::utf8 << "a";
        QTest::newRow("escapes of ASCII") << "%41%42" << encoding::ansi << "AB";
        QTest::newRow("UTF-16LE") << "x%2D%4Ey" << encoding::utf16le << u8("x中y");
    }

    void urldecode()
    {
        QFETCH(QString, text);
        QFETCH(encoding, code);
        QFETCH(QString, expected);
        QCOMPARE(fun.urldecode(text, code), expected);
    }

    void url_round_trip_data() { hex_round_trip_data(); }

    void url_round_trip()
    {
        QFETCH(encoding, code);
        // The emoji is not in code page 936.
        const QString text =
            mixed_text(2000, 42) + (code == encoding::ansi ? u8("…（）") : u8("😀…（）"));
        QCOMPARE(fun.urldecode(fun.urlencode(text, code), code), text);
    }
};

QTEST_GUILESS_MAIN(encoders_test)
#include "encoders_test.moc"
