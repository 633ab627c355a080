// The numerical service's bit functions and bit strings: the edge cases, null and error rules,
// and a randomised comparison against the arithmetic the functions are defined by (reading a
// bit by floating-point division, adding and subtracting powers of two, walking bits one by
// one).

#include <lumora/numeric/n_cst_numerical.h>

#include <rt/value/errors.h>

#include <QRandomGenerator>
#include <QTest>

#include <cmath>
#include <functional>
#include <limits>

using lumora::n_cst_numerical;

namespace {

// The defining arithmetic, written out step by step. Where it leaves the outcome open (the
// long conversion of a quotient beyond the 32-bit range, which only bit 1 of a value of
// 2147483648 or more reaches), the bit pattern decides.
namespace definition {

/// The runtime's long conversion with truncation; empty when `q` is beyond the 32-bit range.
std::optional<std::int32_t> long_conversion(double q)
{
    const double t = std::trunc(q);
    if (t < -2147483648.0 || t > 2147483647.0)
        return std::nullopt;
    return static_cast<std::int32_t>(t);
}

/// 2^(bit - 1), the exponent taken as unsigned 32-bit, truncated and reduced to 32 bits.
std::uint32_t divisor(std::uint16_t bit)
{
    const std::uint32_t exponent = static_cast<std::uint32_t>(bit) - 1u;
    const double p = std::pow(2.0, static_cast<double>(exponent));
    // A power of two of 2^32 and more has no bits in the low 32.
    if (!std::isfinite(p) || p >= 4294967296.0)
        return 0;
    return static_cast<std::uint32_t>(p);
}

bool getbit(std::int32_t v, std::uint16_t bit)
{
    const auto u = static_cast<std::uint32_t>(v);
    const std::uint32_t d = divisor(bit);
    if (d == 0)
        throw rt::division_by_zero();
    const double q = static_cast<double>(u) / static_cast<double>(d);
    const auto k = long_conversion(q);
    if (!k)
        return (u & 1u) != 0; // the open case
    return *k % 2 > 0;
}

std::int32_t add(std::int32_t a, std::uint32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + b);
}

std::int32_t setbit(std::int32_t v, std::uint16_t n)
{
    return !getbit(v, n) ? add(v, divisor(n)) : v;
}
std::int32_t clearbit(std::int32_t v, std::uint16_t n)
{
    return getbit(v, n) ? add(v, 0u - divisor(n)) : v;
}
std::int32_t flipbit(std::int32_t v, std::uint16_t n)
{
    return !getbit(v, n) ? setbit(v, n) : clearbit(v, n);
}

std::int16_t low16(std::int32_t v)
{
    return static_cast<std::int16_t>(v & 0xffff);
}
std::int16_t setbit16(std::int16_t v, std::uint16_t n)
{
    return low16(setbit(v, n));
}
std::int16_t clearbit16(std::int16_t v, std::uint16_t n)
{
    return low16(clearbit(v, n));
}
std::int16_t flipbit16(std::int16_t v, std::uint16_t n)
{
    return low16(flipbit(v, n));
}

template <typename T> T combine(T a, T b, int width, const std::function<bool(bool, bool)>& rule)
{
    std::int32_t r = 0;
    for (std::uint16_t n = 1; n <= static_cast<std::uint16_t>(width); ++n) {
        if (rule(getbit(a, n), getbit(b, n)))
            r = width == 32 ? setbit(r, n) : setbit16(static_cast<std::int16_t>(r), n);
    }
    return static_cast<T>(r);
}

std::int32_t bitwisexor(std::int32_t a, std::int32_t b)
{
    std::int32_t r = 0;
    for (std::uint16_t n = 1; n <= 32; ++n) {
        if (getbit(a, n) != getbit(b, n))
            r = add(r, static_cast<std::uint32_t>(std::pow(2.0, n - 1)));
    }
    return r;
}

template <typename T> T bitwisenot(T a, int width)
{
    std::int32_t r = 0;
    for (std::uint16_t n = 1; n <= static_cast<std::uint16_t>(width); ++n) {
        if (!getbit(a, n))
            r = width == 32 ? setbit(r, n) : setbit16(static_cast<std::int16_t>(r), n);
    }
    return static_cast<T>(r);
}

QString binary(std::int32_t v)
{
    auto u = static_cast<std::uint32_t>(v);
    QString s;
    for (int i = 0; i < 32; ++i) {
        s += QString::number(u % 2);
        u = u / 2;
    }
    return s;
}

std::int32_t decimal(QString s)
{
    if (!s.isEmpty())
        s += QString(31, s.back());
    std::uint32_t r = 0;
    for (int i = 1; i <= 32; ++i) {
        const QString c = s.mid(i - 1, 1);
        bool ok = false;
        const long value = c.toLong(&ok);
        r += static_cast<std::uint32_t>(ok ? value : 0) * divisor(static_cast<std::uint16_t>(i));
    }
    return static_cast<std::int32_t>(r);
}

} // namespace definition

/// Values that reach every corner: extremes, powers of two and their neighbours, small values
/// and uniformly random ones.
std::vector<std::int32_t> sample_values()
{
    std::vector<std::int32_t> values = {0,
                                        1,
                                        -1,
                                        2,
                                        -2,
                                        5,
                                        12,
                                        10,
                                        32767,
                                        -32768,
                                        32768,
                                        65535,
                                        std::numeric_limits<std::int32_t>::max(),
                                        std::numeric_limits<std::int32_t>::min()};
    for (int k = 0; k < 32; ++k) {
        const std::uint32_t p = std::uint32_t{1} << k;
        for (const std::uint32_t v : {p, p - 1, p + 1, 0u - p, ~p})
            values.push_back(static_cast<std::int32_t>(v));
    }
    QRandomGenerator random(20240611);
    for (int i = 0; i < 600; ++i)
        values.push_back(static_cast<std::int32_t>(random.generate()));
    for (int i = 0; i < 200; ++i)
        values.push_back(random.bounded(-70000, 70000));
    return values;
}

} // namespace

class n_cst_numerical_test : public QObject {
    Q_OBJECT
    n_cst_numerical n;

private slots:
    void getbit_data()
    {
        QTest::addColumn<qint32>("value");
        QTest::addColumn<quint16>("bit");
        QTest::addColumn<bool>("expected");
        QTest::newRow("5, bit 1") << 5 << quint16(1) << true;
        QTest::newRow("5, bit 2") << 5 << quint16(2) << false;
        QTest::newRow("5, bit 3") << 5 << quint16(3) << true;
        QTest::newRow("min, bit 32") << std::numeric_limits<qint32>::min() << quint16(32) << true;
        QTest::newRow("max, bit 32") << std::numeric_limits<qint32>::max() << quint16(32) << false;
        QTest::newRow("-1, bit 1 (pattern decides)") << -1 << quint16(1) << true;
        QTest::newRow("min, bit 1 (pattern decides)")
            << std::numeric_limits<qint32>::min() << quint16(1) << false;
        QTest::newRow("-2, bit 1") << -2 << quint16(1) << false;
    }
    void getbit()
    {
        QFETCH(qint32, value);
        QFETCH(quint16, bit);
        QFETCH(bool, expected);
        QCOMPARE(n.of_getbit(value, bit), expected);
        QCOMPARE(n.of_getbit(std::optional<qint32>(value), std::optional<quint16>(bit)), expected);
    }

    void single_bit_updates_data()
    {
        QTest::addColumn<QString>("function");
        QTest::addColumn<qint32>("value");
        QTest::addColumn<quint16>("bit");
        QTest::addColumn<qint32>("expected");
        QTest::newRow("set long 0 bit 32") << "set" << 0 << quint16(32) << qint32(-2147483647 - 1);
        QTest::newRow("clear long -1 bit 32") << "clear" << -1 << quint16(32) << 2147483647;
        QTest::newRow("flip long 6 bit 2") << "flip" << 6 << quint16(2) << 4;
        QTest::newRow("flip long 4 bit 2") << "flip" << 4 << quint16(2) << 6;
        QTest::newRow("set long, already set") << "set" << 7 << quint16(2) << 7;
        QTest::newRow("clear long, not set") << "clear" << 5 << quint16(2) << 5;
        QTest::newRow("set integer 0 bit 16") << "set16" << 0 << quint16(16) << -32768;
        QTest::newRow("set integer 5 bit 17") << "set16" << 5 << quint16(17) << 5;
        QTest::newRow("set integer -5 bit 32") << "set16" << -5 << quint16(32) << -5;
        QTest::newRow("clear integer -1 bit 16") << "clear16" << -1 << quint16(16) << 32767;
        QTest::newRow("clear integer -1 bit 20") << "clear16" << -1 << quint16(20) << -1;
        QTest::newRow("flip integer 32767 bit 16") << "flip16" << 32767 << quint16(16) << -1;
        QTest::newRow("flip integer -32768 bit 17") << "flip16" << -32768 << quint16(17) << -32768;
    }
    void single_bit_updates()
    {
        QFETCH(QString, function);
        QFETCH(qint32, value);
        QFETCH(quint16, bit);
        QFETCH(qint32, expected);
        const auto v16 = static_cast<std::int16_t>(value);
        const std::optional<quint16> obit(bit);
        if (function == "set") {
            QCOMPARE(n.of_setbit(value, bit), expected);
            QCOMPARE(n.of_setbit(std::optional<qint32>(value), obit), expected);
        } else if (function == "clear") {
            QCOMPARE(n.of_clearbit(value, bit), expected);
            QCOMPARE(n.of_clearbit(std::optional<qint32>(value), obit), expected);
        } else if (function == "flip") {
            QCOMPARE(n.of_flipbit(value, bit), expected);
            QCOMPARE(n.of_flipbit(std::optional<qint32>(value), obit), expected);
        } else if (function == "set16") {
            QCOMPARE(n.of_setbit(v16, bit), expected);
            QCOMPARE(n.of_setbit(std::optional<qint16>(v16), obit), expected);
        } else if (function == "clear16") {
            QCOMPARE(n.of_clearbit(v16, bit), expected);
            QCOMPARE(n.of_clearbit(std::optional<qint16>(v16), obit), expected);
        } else if (function == "flip16") {
            QCOMPARE(n.of_flipbit(v16, bit), expected);
            QCOMPARE(n.of_flipbit(std::optional<qint16>(v16), obit), expected);
        } else {
            QFAIL("unknown function");
        }
    }

    void bit_number_out_of_range_divides_by_zero_data()
    {
        QTest::addColumn<quint16>("bit");
        QTest::newRow("bit 0") << quint16(0);
        QTest::newRow("bit 33") << quint16(33);
        QTest::newRow("bit 64") << quint16(64);
        QTest::newRow("bit 65535") << quint16(65535);
    }
    void bit_number_out_of_range_divides_by_zero()
    {
        QFETCH(quint16, bit);
        const std::int16_t i = 5;
        const std::optional<qint32> null_long;
        const std::optional<qint16> null_integer;
        QVERIFY_THROWS_EXCEPTION(rt::division_by_zero, n.of_getbit(5, bit));
        QVERIFY_THROWS_EXCEPTION(rt::division_by_zero, n.of_setbit(5, bit));
        QVERIFY_THROWS_EXCEPTION(rt::division_by_zero, n.of_clearbit(5, bit));
        QVERIFY_THROWS_EXCEPTION(rt::division_by_zero, n.of_flipbit(5, bit));
        QVERIFY_THROWS_EXCEPTION(rt::division_by_zero, n.of_setbit(i, bit));
        QVERIFY_THROWS_EXCEPTION(rt::division_by_zero, n.of_clearbit(i, bit));
        QVERIFY_THROWS_EXCEPTION(rt::division_by_zero, n.of_flipbit(i, bit));
        // The bit number fails before a null value is looked at.
        QVERIFY_THROWS_EXCEPTION(rt::division_by_zero, n.of_getbit(null_long, bit));
        QVERIFY_THROWS_EXCEPTION(rt::division_by_zero, n.of_setbit(null_long, bit));
        QVERIFY_THROWS_EXCEPTION(rt::division_by_zero, n.of_clearbit(null_integer, bit));
        QVERIFY_THROWS_EXCEPTION(rt::division_by_zero, n.of_flipbit(null_integer, bit));
    }

    void null_values()
    {
        const std::optional<qint32> null_long;
        const std::optional<qint16> null_integer;
        const std::optional<quint16> null_bit;
        const std::optional<quint16> bit1(1);
        QCOMPARE(n.of_getbit(null_long, bit1), false);
        QCOMPARE(n.of_getbit(std::optional<qint32>(1), null_bit), false);
        QCOMPARE(n.of_setbit(null_long, bit1), std::nullopt);
        QCOMPARE(n.of_clearbit(null_long, bit1), std::nullopt);
        QCOMPARE(n.of_flipbit(null_integer, bit1), std::nullopt);
        // A null bit number has a null weight: adding it gives null, clearing changes nothing.
        QCOMPARE(n.of_setbit(std::optional<qint32>(4), null_bit), std::nullopt);
        QCOMPARE(n.of_flipbit(std::optional<qint16>(4), null_bit), std::nullopt);
        QCOMPARE(n.of_clearbit(std::optional<qint32>(5), null_bit), std::optional<qint32>(5));
        // The combinations read a null as 0.
        QCOMPARE(n.of_bitwiseand(null_long, std::optional<qint32>(-1)), 0);
        QCOMPARE(n.of_bitwiseor(null_integer, std::optional<qint16>(12)), 12);
        QCOMPARE(n.of_bitwisexor(std::optional<qint32>(6), null_long), 6);
        QCOMPARE(n.of_bitwisenot(null_long), -1);
        QCOMPARE(n.of_bitwisenot(null_integer), -1);
        QCOMPARE(n.of_binary(null_long), std::nullopt);
        QCOMPARE(n.of_decimal(std::optional<QString>()), std::nullopt);
    }

    void combinations_data()
    {
        QTest::addColumn<QString>("function");
        QTest::addColumn<qint32>("a");
        QTest::addColumn<qint32>("b");
        QTest::addColumn<qint32>("expected");
        QTest::newRow("and 12 10") << "and" << 12 << 10 << 8;
        QTest::newRow("or 12 10") << "or" << 12 << 10 << 14;
        QTest::newRow("xor 12 10") << "xor" << 12 << 10 << 6;
        QTest::newRow("not 0") << "not" << 0 << 0 << -1;
        QTest::newRow("and -1 min") << "and" << -1 << (-2147483647 - 1) << (-2147483647 - 1);
        QTest::newRow("xor -1 1") << "xor" << -1 << 1 << -2;
        QTest::newRow("integer and -1 -32768") << "and16" << -1 << -32768 << -32768;
        QTest::newRow("integer or 12 10") << "or16" << 12 << 10 << 14;
        QTest::newRow("integer xor -1 32767") << "xor16" << -1 << 32767 << -32768;
        QTest::newRow("integer not 0") << "not16" << 0 << 0 << -1;
        QTest::newRow("integer not -32768") << "not16" << -32768 << 0 << 32767;
        QTest::newRow("integer and long take the long form")
            << "and16x32" << -1 << 0x12345 << 0x12345;
        QTest::newRow("integer or long take the long form") << "or16x32" << 0 << 0x10000 << 0x10000;
        QTest::newRow("integer xor long take the long form")
            << "xor16x32" << -1 << 0x10000 << -65537;
    }
    void combinations()
    {
        QFETCH(QString, function);
        QFETCH(qint32, a);
        QFETCH(qint32, b);
        QFETCH(qint32, expected);
        const auto a16 = static_cast<std::int16_t>(a);
        const auto b16 = static_cast<std::int16_t>(b);
        qint32 result = 0;
        if (function == "and")
            result = n.of_bitwiseand(a, b);
        else if (function == "or")
            result = n.of_bitwiseor(a, b);
        else if (function == "xor")
            result = n.of_bitwisexor(a, b);
        else if (function == "not")
            result = n.of_bitwisenot(a);
        else if (function == "and16")
            result = n.of_bitwiseand(a16, b16);
        else if (function == "or16")
            result = n.of_bitwiseor(a16, b16);
        else if (function == "xor16")
            result = n.of_bitwisexor(a16, b16);
        else if (function == "not16")
            result = n.of_bitwisenot(a16);
        else if (function == "and16x32")
            result = n.of_bitwiseand(a16, b);
        else if (function == "or16x32")
            result = n.of_bitwiseor(a16, b);
        else if (function == "xor16x32")
            result = n.of_bitwisexor(a16, b);
        else
            QFAIL("unknown function");
        QCOMPARE(result, expected);
    }

    void or_over_an_array_data()
    {
        QTest::addColumn<std::vector<std::uint32_t>>("values");
        QTest::addColumn<quint32>("expected");
        QTest::newRow("1 2 4") << std::vector<std::uint32_t>{1, 2, 4} << 7u;
        QTest::newRow("one element") << std::vector<std::uint32_t>{5} << 4294967295u;
        QTest::newRow("empty") << std::vector<std::uint32_t>{} << 4294967295u;
        QTest::newRow("two equal") << std::vector<std::uint32_t>{12, 12} << 12u;
        QTest::newRow("high values")
            << std::vector<std::uint32_t>{0x80000001u, 0x40000000u} << 0xC0000001u;
        // A count beyond 16 bits is still the count: 65537 elements are not "fewer than two".
        std::vector<std::uint32_t> many(65537, 0);
        many[40000] = 8;
        QTest::newRow("65537 elements") << many << 8u;
    }
    void or_over_an_array()
    {
        QFETCH(std::vector<std::uint32_t>, values);
        QFETCH(quint32, expected);
        QCOMPARE(n.of_bitwiseor(values), expected);
    }

    void bit_strings_data()
    {
        QTest::addColumn<QString>("binary");
        QTest::addColumn<qint32>("value");
        QTest::newRow("1010") << "1010" << 5;
        QTest::newRow("101 extends its last digit") << "101" << -3;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("1") << "1" << -1;
        QTest::newRow("0") << "0" << 0;
        QTest::newRow("2 counts with its value") << "20" << 2;
        QTest::newRow("2 at position 2") << "020" << 4;
        QTest::newRow("a last 2 is repeated") << "02" << -4;
        QTest::newRow("9 repeated") << "9" << -9;
        QTest::newRow("letter counts as 0") << "1a1" << -3;
        QTest::newRow("beyond 32 ignored") << "1" + QString(31, '0') + "111" << 1;
        QTest::newRow("bit 32") << QString(31, '0') + "1" << (-2147483647 - 1);
    }
    void bit_strings()
    {
        QFETCH(QString, binary);
        QFETCH(qint32, value);
        QCOMPARE(n.of_decimal(binary), value);
        QCOMPARE(n.of_decimal(binary), definition::decimal(binary));
    }

    void binary_is_32_digits_least_significant_first()
    {
        QCOMPARE(n.of_binary(5), "101" + QString(29, '0'));
        QCOMPARE(n.of_binary(0), QString(32, '0'));
        QCOMPARE(n.of_binary(-1), QString(32, '1'));
        QCOMPARE(n.of_binary(std::optional<qint32>(-2147483647 - 1)), QString(31, '0') + "1");
    }

    void agrees_with_the_defining_arithmetic()
    {
        const std::vector<std::int32_t> values = sample_values();
        QRandomGenerator random(7);
        for (const std::int32_t a : values) {
            const auto a16 = static_cast<std::int16_t>(a);
            for (std::uint16_t bit = 1; bit <= 32; ++bit) {
                QCOMPARE(n.of_getbit(a, bit), definition::getbit(a, bit));
                QCOMPARE(n.of_setbit(a, bit), definition::setbit(a, bit));
                QCOMPARE(n.of_clearbit(a, bit), definition::clearbit(a, bit));
                QCOMPARE(n.of_flipbit(a, bit), definition::flipbit(a, bit));
                QCOMPARE(n.of_setbit(a16, bit), definition::setbit16(a16, bit));
                QCOMPARE(n.of_clearbit(a16, bit), definition::clearbit16(a16, bit));
                QCOMPARE(n.of_flipbit(a16, bit), definition::flipbit16(a16, bit));
            }
            const auto b = static_cast<std::int32_t>(random.generate());
            const auto b16 = static_cast<std::int16_t>(b);
            QCOMPARE(n.of_bitwiseand(a, b),
                     definition::combine<std::int32_t>(a, b, 32, std::logical_and<>()));
            QCOMPARE(n.of_bitwiseor(a, b),
                     definition::combine<std::int32_t>(a, b, 32, std::logical_or<>()));
            QCOMPARE(n.of_bitwisexor(a, b), definition::bitwisexor(a, b));
            QCOMPARE(n.of_bitwisenot(a), definition::bitwisenot<std::int32_t>(a, 32));
            QCOMPARE(n.of_bitwiseand(a16, b16),
                     definition::combine<std::int16_t>(a16, b16, 16, std::logical_and<>()));
            QCOMPARE(n.of_bitwiseor(a16, b16),
                     definition::combine<std::int16_t>(a16, b16, 16, std::logical_or<>()));
            QCOMPARE(n.of_bitwisexor(a16, b16),
                     definition::combine<std::int16_t>(a16, b16, 16, std::not_equal_to<>()));
            QCOMPARE(n.of_bitwisenot(a16), definition::bitwisenot<std::int16_t>(a16, 16));
            QCOMPARE(n.of_binary(a), definition::binary(a));
            QCOMPARE(n.of_decimal(n.of_binary(a)), a);
        }
    }
};

QTEST_APPLESS_MAIN(n_cst_numerical_test)
#include "n_cst_numerical_test.moc"
