// The five global bit functions: edge cases, null rules, and a randomised comparison against
// the arithmetic they are defined by (powers of two truncated into signed 32 bits, bits read by
// division and remainder, shifts as multiplication and division).

#include <lumora/numeric/bitops.h>

#include <QRandomGenerator>
#include <QTest>

#include <cmath>
#include <limits>

using lumora::uf_bitand;
using lumora::uf_bitor;
using lumora::uf_bitshl;
using lumora::uf_bitshr;
using lumora::uf_bitxor;

namespace {

// Compile-time checks of a few cases: the functions are constexpr.
static_assert(uf_bitand(12u, 10u) == 8u);
static_assert(uf_bitxor(65537u, 1u) == 0u);
static_assert(uf_bitshl(3u, std::int16_t{31}) == 2147483648u);

// The defining arithmetic. Where it leaves the outcome open (bit 0 and bit 31 of a value of
// 2147483648 or more, and shift counts beyond the signed 32-bit range of 2^k), the bit pattern
// decides.
namespace definition {

/// 2^k truncated toward zero and converted to a signed 32-bit integer (k from -16 to 31).
std::int32_t p(int k)
{
    const double d = std::trunc(std::pow(2.0, k));
    if (d >= 2147483648.0)
        return std::numeric_limits<std::int32_t>::min(); // bit 31 alone, read as signed
    return static_cast<std::int32_t>(d);
}

std::optional<std::int32_t> long_conversion(double q)
{
    const double t = std::trunc(q);
    if (t < -2147483648.0 || t > 2147483647.0)
        return std::nullopt;
    return static_cast<std::int32_t>(t);
}

/// Bit k of v, read as the remainder of the quotient by 2 (its sign that of the quotient).
int bit(std::uint32_t v, int k)
{
    if (v >= 2147483648u && (k == 0 || k == 31))
        return static_cast<int>((v >> k) & 1u); // the open cases
    const double q = static_cast<double>(v) / static_cast<double>(p(k));
    return *long_conversion(q) % 2;
}

std::uint32_t add(std::uint32_t r, std::int32_t pk)
{
    return r + static_cast<std::uint32_t>(pk);
}

std::uint32_t bitand_(std::uint32_t a, std::uint32_t b)
{
    std::uint32_t r = 0;
    for (int k = 0; k <= 31; ++k)
        if (bit(a, k) + bit(b, k) == 2)
            r = add(r, p(k));
    return r;
}

std::uint32_t bitor_(std::uint32_t a, std::uint32_t b)
{
    std::uint32_t r = 0;
    for (int k = 0; k <= 31; ++k)
        if (bit(a, k) + bit(b, k) > 0)
            r = add(r, p(k));
    return r;
}

std::uint32_t bitxor_(std::uint32_t a, std::uint32_t b)
{
    std::uint32_t r = 0;
    for (int k = 0; k <= 15; ++k)
        if (bit(a, k) != bit(b, k))
            r = add(r, p(k));
    return r;
}

std::uint32_t shl(std::uint32_t v, int k)
{
    if (k > 31)
        return 0; // every bit shifted out
    const std::int64_t product = static_cast<std::int64_t>(v) * p(k);
    return static_cast<std::uint32_t>(product);
}

std::uint32_t shr(std::uint32_t v, int k)
{
    if (k > 30)
        return k == 31 ? v >> 31 : 0; // the open counts
    const std::int32_t d = p(k);
    if (d == 0)
        throw rt::division_by_zero();
    const double q = std::trunc(static_cast<double>(v) / d);
    return static_cast<std::uint32_t>(static_cast<std::int64_t>(q));
}

} // namespace definition

std::vector<std::uint32_t> sample_values()
{
    std::vector<std::uint32_t> values = {0u,          1u,          2u,          3u,         5u,
                                         10u,         12u,         65535u,      65536u,     65537u,
                                         0x7fffffffu, 0x80000000u, 0x80000001u, 0xffffffffu};
    for (int k = 0; k < 32; ++k) {
        const std::uint32_t p = std::uint32_t{1} << k;
        values.insert(values.end(), {p, p - 1, p + 1, ~p});
    }
    QRandomGenerator random(31337);
    for (int i = 0; i < 1500; ++i)
        values.push_back(random.generate());
    for (int i = 0; i < 500; ++i)
        values.push_back(random.bounded(100000u));
    return values;
}

} // namespace

class bitops_test : public QObject {
    Q_OBJECT

private slots:
    void two_values_data()
    {
        QTest::addColumn<QString>("function");
        QTest::addColumn<std::optional<quint32>>("a");
        QTest::addColumn<std::optional<quint32>>("b");
        QTest::addColumn<quint32>("expected");
        const std::optional<quint32> null;
        QTest::newRow("and 12 10") << "and" << std::optional(12u) << std::optional(10u) << 8u;
        QTest::newRow("or 12 10") << "or" << std::optional(12u) << std::optional(10u) << 14u;
        QTest::newRow("xor 12 10") << "xor" << std::optional(12u) << std::optional(10u) << 6u;
        QTest::newRow("xor leaves bit 16 out")
            << "xor" << std::optional(65537u) << std::optional(1u) << 0u;
        QTest::newRow("xor of high values keeps 16 bits")
            << "xor" << std::optional(0xffffffffu) << std::optional(0u) << 0xffffu;
        QTest::newRow("or null 5") << "or" << null << std::optional(5u) << 0u;
        QTest::newRow("and 5 null") << "and" << std::optional(5u) << null << 0u;
        QTest::newRow("xor null null") << "xor" << null << null << 0u;
        QTest::newRow("and of high values")
            << "and" << std::optional(0xffffffffu) << std::optional(0x80000001u) << 0x80000001u;
        QTest::newRow("or of high values")
            << "or" << std::optional(0x80000000u) << std::optional(1u) << 0x80000001u;
    }
    void two_values()
    {
        QFETCH(QString, function);
        QFETCH(std::optional<quint32>, a);
        QFETCH(std::optional<quint32>, b);
        QFETCH(quint32, expected);
        if (function == "and")
            QCOMPARE(uf_bitand(a, b), expected);
        else if (function == "or")
            QCOMPARE(uf_bitor(a, b), expected);
        else if (function == "xor")
            QCOMPARE(uf_bitxor(a, b), expected);
        else
            QFAIL("unknown function");
    }

    void shifts_data()
    {
        QTest::addColumn<QString>("function");
        QTest::addColumn<std::optional<quint32>>("value");
        QTest::addColumn<std::optional<qint16>>("count");
        QTest::addColumn<std::optional<quint32>>("expected");
        const auto v = [](quint32 x) { return std::optional<quint32>(x); };
        const auto c = [](qint16 x) { return std::optional<qint16>(x); };
        QTest::newRow("shl 1 31") << "shl" << v(1) << c(31) << v(2147483648u);
        QTest::newRow("shl 3 31") << "shl" << v(3) << c(31) << v(2147483648u);
        QTest::newRow("shl 5 -1") << "shl" << v(5) << c(-1) << v(0);
        QTest::newRow("shl 5 0") << "shl" << v(5) << c(0) << v(5);
        QTest::newRow("shl 1 32") << "shl" << v(1) << c(32) << v(0);
        QTest::newRow("shl max count") << "shl" << v(1) << c(32767) << v(0);
        QTest::newRow("shl null value")
            << "shl" << std::optional<quint32>() << c(1) << std::optional<quint32>();
        QTest::newRow("shl null count")
            << "shl" << v(1) << std::optional<qint16>() << std::optional<quint32>();
        QTest::newRow("shr 256 4") << "shr" << v(256) << c(4) << v(16);
        QTest::newRow("shr max 30") << "shr" << v(4294967295u) << c(30) << v(3);
        QTest::newRow("shr max 31") << "shr" << v(4294967295u) << c(31) << v(1);
        QTest::newRow("shr max 32") << "shr" << v(4294967295u) << c(32) << v(0);
        QTest::newRow("shr null value, negative count")
            << "shr" << std::optional<quint32>() << c(-1) << std::optional<quint32>();
    }
    void shifts()
    {
        QFETCH(QString, function);
        QFETCH(std::optional<quint32>, value);
        QFETCH(std::optional<qint16>, count);
        QFETCH(std::optional<quint32>, expected);
        const auto result = function == "shl" ? uf_bitshl(value, count) : uf_bitshr(value, count);
        QCOMPARE(result.has_value(), expected.has_value());
        if (expected)
            QCOMPARE(*result, *expected);
    }

    void shift_right_by_a_negative_count_divides_by_zero_data()
    {
        QTest::addColumn<qint16>("count");
        QTest::newRow("-1") << qint16(-1);
        QTest::newRow("-31") << qint16(-31);
        QTest::newRow("-32768") << qint16(-32768);
    }
    void shift_right_by_a_negative_count_divides_by_zero()
    {
        QFETCH(qint16, count);
        QVERIFY_THROWS_EXCEPTION(rt::division_by_zero, uf_bitshr(5u, count));
    }

    void agrees_with_the_defining_arithmetic()
    {
        const std::vector<std::uint32_t> values = sample_values();
        QRandomGenerator random(99);
        for (const std::uint32_t a : values) {
            for (const std::uint32_t b : {random.generate(), random.bounded(70000u), a, ~a}) {
                QCOMPARE(uf_bitand(a, b), definition::bitand_(a, b));
                QCOMPARE(uf_bitor(a, b), definition::bitor_(a, b));
                QCOMPARE(uf_bitxor(a, b), definition::bitxor_(a, b));
            }
            for (std::int16_t k = -3; k <= 34; ++k) {
                QCOMPARE(*uf_bitshl(a, k), definition::shl(a, k));
                if (k >= 0)
                    QCOMPARE(*uf_bitshr(a, k), definition::shr(a, k));
            }
        }
    }
};

QTEST_APPLESS_MAIN(bitops_test)
#include "bitops_test.moc"
