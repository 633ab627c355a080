#include "decimal_text.h"

#include <rt/value/decimal.h>
#include <rt/value/errors.h>
#include <rt/value/format_version.h>

#include <QTest>

#include <limits>

using qorv::test::decimal_text;
using rt::decimal;

class decimal_test : public QObject {
    Q_OBJECT

private slots:
    void fromText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("expected");

        QTest::newRow("plain") << "1.3" << true << "1.3";
        QTest::newRow("blanks around") << " \t12 " << true << "12";
        QTest::newRow("blanks around sign") << "  -1.5  " << true << "-1.5";
        QTest::newRow("plus sign") << "+3" << true << "3";
        QTest::newRow("leading point") << ".5" << true << "0.5";
        QTest::newRow("trailing point") << "5." << true << "5";
        QTest::newRow("negative leading point") << "-.25" << true << "-0.25";
        QTest::newRow("exponent") << "1e3" << true << "1000";
        QTest::newRow("negative exponent") << "1.5E-2" << true << "0.015";
        QTest::newRow("zeros trimmed") << "00012.500" << true << "12.5";
        QTest::newRow("negative zero") << "-0" << true << "0";
        QTest::newRow("long digits round to 34")
            << "0.1000000000000000000000000000000000000001" << true << "0.1";
        QTest::newRow("long nines carry") << "99999999999999999999999999999999999.9" << true
                                          << "100000000000000000000000000000000000";
        QTest::newRow("34 digits kept")
            << "1234567890123456789012345678901234" << true << "1234567890123456789012345678901234";
        QTest::newRow("empty") << "" << false << "";
        QTest::newRow("blanks only") << "   " << false << "";
        QTest::newRow("point only") << "." << false << "";
        QTest::newRow("sign only") << "-" << false << "";
        QTest::newRow("letters") << "abc" << false << "";
        QTest::newRow("trailing garbage") << "12a" << false << "";
        QTest::newRow("two points") << "1.2.3" << false << "";
        QTest::newRow("two signs") << "--1" << false << "";
        QTest::newRow("blank inside") << "1 2" << false << "";
        QTest::newRow("exponent without digits") << "1e" << false << "";
        QTest::newRow("exponent only") << "e5" << false << "";
        QTest::newRow("overflow") << "1e99999999999999999999" << false << "";
        QTest::newRow("full-width digits") << QString::fromUtf8("１２") << false << "";
        QTest::newRow("thousands separator") << "1,000" << false << "";
    }

    void fromText()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(QString, expected);
        const auto value = decimal::from_text(text);
        QCOMPARE(value.has_value(), valid);
        if (valid)
            QCOMPARE(value->to_text(), expected);
    }

    void arithmetic_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<char>("op");
        QTest::addColumn<QString>("b");
        QTest::addColumn<QString>("expected");

        QTest::newRow("0.1 + 0.2 is exactly 0.3") << "0.1" << '+' << "0.2"
                                                  << "0.3";
        QTest::newRow("1 - 0.9") << "1" << '-' << "0.9"
                                 << "0.1";
        QTest::newRow("1.1 * 1.1") << "1.1" << '*' << "1.1"
                                   << "1.21";
        QTest::newRow("1 / 4") << "1" << '/' << "4"
                               << "0.25";
        QTest::newRow("1 / 3 to 34 digits") << "1" << '/' << "3"
                                            << "0.3333333333333333333333333333333333";
        QTest::newRow("2 / 3 rounds the last digit") << "2" << '/' << "3"
                                                     << "0.6666666666666666666666666666666667";
        QTest::newRow("sign of product") << "-2.5" << '*' << "4"
                                         << "-10";
        QTest::newRow("beyond 64-bit integers") << "9223372036854775807" << '+' << "1"
                                                << "9223372036854775808";
        QTest::newRow("version step") << "1.2" << '+' << "0.1"
                                      << "1.3";
    }

    void arithmetic()
    {
        QFETCH(QString, a);
        QFETCH(char, op);
        QFETCH(QString, b);
        QFETCH(QString, expected);
        const decimal x = *decimal::from_text(a);
        const decimal y = *decimal::from_text(b);
        const decimal r = op == '+' ? x + y : op == '-' ? x - y : op == '*' ? x * y : x / y;
        QCOMPARE(r.to_text(), expected);
        QVERIFY(r == *decimal::from_text(expected));
    }

    void comparison_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("expected"); // -1, 0, 1

        QTest::newRow("10.0 above 9.5") << "10.0"
                                        << "9.5" << 1;
        QTest::newRow("numeric not textual order") << "2"
                                                   << "10" << -1;
        QTest::newRow("trailing zeros equal") << "1.10"
                                              << "1.1" << 0;
        QTest::newRow("integer and fraction form equal") << "1"
                                                         << "1.000" << 0;
        QTest::newRow("zero and negative zero equal") << "0"
                                                      << "-0" << 0;
        QTest::newRow("negative below zero") << "-0.001"
                                             << "0" << -1;
        QTest::newRow("more negative below") << "-2"
                                             << "-1.5" << -1;
        QTest::newRow("digit 34 decides") << "0.0000000000000000000000000000000001"
                                          << "0" << 1;
    }

    void comparison()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, expected);
        const decimal x = *decimal::from_text(a);
        const decimal y = *decimal::from_text(b);
        const auto order = x <=> y;
        QCOMPARE(order < 0 ? -1 : order > 0 ? 1 : 0, expected);
        QCOMPARE(x == y, expected == 0);
        QCOMPARE(y > x, expected < 0);
    }

    void rounding_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("places");
        QTest::addColumn<QString>("rounded");
        QTest::addColumn<QString>("truncated");

        QTest::newRow("half up") << "2.5" << 0 << "3"
                                 << "2";
        QTest::newRow("half away from zero when negative") << "-2.5" << 0 << "-3"
                                                           << "-2";
        QTest::newRow("half of an even digit rounds up") << "0.125" << 2 << "0.13"
                                                         << "0";
        QTest::newRow("below half") << "1.2344" << 3 << "1.234"
                                    << "1";
        QTest::newRow("already short enough") << "1.5" << 3 << "1.5"
                                              << "1";
        QTest::newRow("carry into integer") << "9.9995" << 3 << "10"
                                            << "9";
        QTest::newRow("tiny negative to zero") << "-0.0004" << 3 << "0"
                                               << "0";
        QTest::newRow("large integer untouched") << "1e30" << 5 << "1000000000000000000000000000000"
                                                 << "1000000000000000000000000000000";
    }

    void rounding()
    {
        QFETCH(QString, value);
        QFETCH(int, places);
        QFETCH(QString, rounded);
        QFETCH(QString, truncated);
        const decimal x = *decimal::from_text(value);
        QCOMPARE(x.rounded(places).to_text(), rounded);
        QCOMPARE(x.truncated().to_text(), truncated);
    }

    void scale_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("scale");

        QTest::newRow("trailing zero ignored") << "1.30" << 1;
        QTest::newRow("integer") << "10" << 0;
        QTest::newRow("integer written with decimals") << "7.000" << 0;
        QTest::newRow("thousandths") << "-0.001" << 3;
        QTest::newRow("exponent form") << "1e3" << 0;
        QTest::newRow("zero with decimals") << "0.000" << 0;
    }

    void scale()
    {
        QFETCH(QString, value);
        QFETCH(int, scale);
        QCOMPARE(decimal::from_text(value)->scale(), scale);
    }

    void formatVersion_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("shown");

        QTest::newRow("one decimal") << "1.3"
                                     << "1.3";
        QTest::newRow("integer keeps one decimal") << "2"
                                                   << "2.0";
        QTest::newRow("zero") << "0"
                              << "0.0";
        QTest::newRow("rounded to three") << "1.2345"
                                          << "1.235";
        QTest::newRow("half away from zero") << "1.0005"
                                             << "1.001";
        QTest::newRow("trailing zeros dropped") << "1.100"
                                                << "1.1";
        QTest::newRow("negative") << "-1.25"
                                  << "-1.25";
        QTest::newRow("tiny negative shows zero") << "-0.0001"
                                                  << "0.0";
        QTest::newRow("two digits before point") << "10.5"
                                                 << "10.5";
        QTest::newRow("rounds up to integer") << "2.9999"
                                              << "3.0";
        QTest::newRow("no thousands separator") << "12345.6"
                                                << "12345.6";
    }

    void formatVersion()
    {
        QFETCH(QString, value);
        QFETCH(QString, shown);
        const decimal x = *decimal::from_text(value);
        const QString text = rt::format_version(x);
        QCOMPARE(text, shown);
        // What the window shows converts back to the version it compares.
        QCOMPARE(decimal::from_text(text)->to_text(), x.rounded(3).to_text());
    }

    void toInt64_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("exact");
        QTest::addColumn<qint64>("expected");

        QTest::newRow("zero") << "0" << true << qint64(0);
        QTest::newRow("negative") << "-5" << true << qint64(-5);
        QTest::newRow("integer with decimals") << "2.000" << true << qint64(2);
        QTest::newRow("exponent") << "1e3" << true << qint64(1000);
        QTest::newRow("largest") << "9223372036854775807" << true
                                 << std::numeric_limits<qint64>::max();
        QTest::newRow("smallest") << "-9223372036854775808" << true
                                  << std::numeric_limits<qint64>::min();
        QTest::newRow("one past largest") << "9223372036854775808" << false << qint64(0);
        QTest::newRow("one past smallest") << "-9223372036854775809" << false << qint64(0);
        QTest::newRow("fraction") << "1.5" << false << qint64(0);
        QTest::newRow("far too large") << "1e30" << false << qint64(0);
    }

    void toInt64()
    {
        QFETCH(QString, value);
        QFETCH(bool, exact);
        QFETCH(qint64, expected);
        const auto converted = decimal::from_text(value)->to_int64();
        QCOMPARE(converted.has_value(), exact);
        if (exact)
            QCOMPARE(*converted, expected);
    }

    void integerConstructorAgreesWithText()
    {
        QCOMPARE(decimal(std::numeric_limits<std::int64_t>::min()).to_text(),
                 QStringLiteral("-9223372036854775808"));
        QVERIFY(decimal() == decimal_text("0"));
        QCOMPARE(decimal_text("0.1").to_double(), 0.1);
        QCOMPARE((-decimal_text("1.5")).to_text(), QStringLiteral("-1.5"));
    }

    void divisionByZeroThrows_data()
    {
        QTest::addColumn<QString>("divisor");
        QTest::newRow("zero") << "0";
        QTest::newRow("zero with decimals") << "0.000";
        QTest::newRow("negative zero") << "-0";
    }

    void divisionByZeroThrows()
    {
        QFETCH(QString, divisor);
        QVERIFY_THROWS_EXCEPTION(rt::division_by_zero,
                                 decimal_text("1") / *decimal::from_text(divisor));
        QVERIFY_THROWS_EXCEPTION(rt::runtime_error,
                                 decimal_text("0") / *decimal::from_text(divisor));
    }
};

QTEST_GUILESS_MAIN(decimal_test)
#include "decimal_test.moc"
