#include <lumora/text/string_functions.h>

#include <QTest>

namespace {

QString u8(const char* text)
{
    return QString::fromUtf8(text);
}

} // namespace

class string_functions_test : public QObject {
    Q_OBJECT

private slots:
    void strtohex_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("0") << "0"
                           << "0";
        QTest::newRow("255") << "255"
                             << "FF";
        QTest::newRow("16") << "16"
                            << "10";
        QTest::newRow("256") << "256"
                             << "100";
        QTest::newRow("four digits as they are") << "65535"
                                                 << "FFFF";
        QTest::newRow("five digits get 678") << "74565"
                                             << "12345678";
        QTest::newRow("first five-digit value") << "65536"
                                                << "10000678";
        QTest::newRow("six digits get 67") << "1193046"
                                           << "12345667";
        QTest::newRow("seven digits get 6") << "19088743"
                                            << "12345676";
        QTest::newRow("eight digits") << "305419896"
                                      << "12345678";
        QTest::newRow("minus one") << "-1"
                                   << "FFFFFFFF";
        QTest::newRow("largest unsigned") << "4294967295"
                                          << "FFFFFFFF";
        QTest::newRow("wraps at 32 bits") << "4294967296"
                                          << "0";
        QTest::newRow("smallest 32-bit") << "-2147483648"
                                         << "80000000";
        QTest::newRow("fraction cut off") << "26.9"
                                          << "1A";
        QTest::newRow("blanks around") << " 12 "
                                       << "C";
        QTest::newRow("not a number") << "abc"
                                      << "0";
        QTest::newRow("trailing garbage") << "12a"
                                          << "0";
        QTest::newRow("empty") << ""
                               << "0";
        QTest::newRow("beyond 64 bits") << "1e30"
                                        << "0";
    }

    void strtohex()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(lumora::strtohex(text), std::optional<QString>(expected));
    }

    void strtohex_null() { QVERIFY(!lumora::strtohex(std::nullopt)); }

    void qj_bj_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("letters and digits") << u8("ＡＢＣ１２３") << "ABC123";
        QTest::newRow("small letters") << u8("ａｚ") << "az";
        QTest::newRow("parentheses around Chinese") << u8("（中文）") << u8("(中文)");
        QTest::newRow("three bracket pairs to []") << u8("〔〕【】〖〗") << "[][][]";
        QTest::newRow("braces and angle quotes") << u8("｛｝《》") << "{}<>";
        QTest::newRow("dashes and tilde") << u8("—－～") << "---";
        QTest::newRow("ellipsis is one dash") << u8("…") << "-";
        QTest::newRow("punctuation") << u8("％＋：。、，；？！｜") << "%+:.,,;?!|";
        QTest::newRow("quotes and ditto mark") << u8("“”〃") << "\"\"\"";
        QTest::newRow("ideographic space") << u8("a\u3000b") << "a b";
        QTest::newRow("other full-width forms pass") << u8("＠＃") << u8("＠＃");
        QTest::newRow("ASCII unchanged") << "Hello, (world) 42!"
                                         << "Hello, (world) 42!";
        QTest::newRow("surrogate pair unchanged") << u8("😀１") << u8("😀1");
        QTest::newRow("empty") << ""
                               << "";
    }

    void qj_bj()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(lumora::qj_bj(text), expected);
    }

    // Full-width digits and letters lie 0xFEE0 above their ASCII forms.
    void qj_bj_every_letter_and_digit()
    {
        QString full, half;
        for (char16_t c = u'0'; c <= u'z'; ++c) {
            if ((c > u'9' && c < u'A') || (c > u'Z' && c < u'a'))
                continue;
            full += QChar(static_cast<char16_t>(c + 0xfee0));
            half += QChar(c);
        }
        QCOMPARE(lumora::qj_bj(full), half);
    }

    void qj_bj_null() { QCOMPARE(lumora::qj_bj(std::nullopt), QString("")); }

    void wf_wps_cell_data()
    {
        QTest::addColumn<int>("c");
        QTest::addColumn<int>("r");
        QTest::addColumn<QString>("expected");
        QTest::newRow("A1") << 1 << 1 << "A1";
        QTest::newRow("Z5") << 26 << 5 << "Z5";
        QTest::newRow("AA5") << 27 << 5 << "AA5";
        QTest::newRow("AZ3") << 52 << 3 << "AZ3";
        QTest::newRow("BA3") << 53 << 3 << "BA3";
        QTest::newRow("ZZ10") << 702 << 10 << "ZZ10";
        QTest::newRow("703 runs past Z") << 703 << 1 << "[A1";
        QTest::newRow("column 0 is before A") << 0 << 1 << "@1";
        QTest::newRow("row without leading zeros") << 3 << 7 << "C7";
        QTest::newRow("largest row") << 1 << 32767 << "A32767";
    }

    void wf_wps_cell()
    {
        QFETCH(int, c);
        QFETCH(int, r);
        QFETCH(QString, expected);
        QCOMPARE(lumora::wf_wps_cell(static_cast<std::int16_t>(c), static_cast<std::int16_t>(r)),
                 expected);
    }

    // Every two-letter column, against the column numbering of spreadsheets.
    void wf_wps_cell_every_column()
    {
        for (int c = 1; c <= 702; ++c) {
            const int n = c - 1;
            const QString expected = c <= 26
                                         ? QString(QChar(u'A' + c - 1))
                                         : QString(QChar(u'A' + n / 26 - 1)) + QChar(u'A' + n % 26);
            QCOMPARE(lumora::wf_wps_cell(static_cast<std::int16_t>(c), 1), expected + u'1');
        }
    }
};

QTEST_GUILESS_MAIN(string_functions_test)
#include "string_functions_test.moc"
