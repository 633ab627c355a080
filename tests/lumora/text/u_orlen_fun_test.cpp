#include <lumora/text/u_orlen_fun.h>

#include "decimal_text.h"
#include "text_p.h"

#include <rt/value/errors.h>

#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <sys/stat.h>

#include <cmath>
#include <limits>

using qorv::test::decimal_text;
using rt::decimal;

namespace {

/// A host path written the way the data writes paths: with backslashes.
QString backslashed(const QString& path)
{
    QString p = path;
    p.replace(u'/', u'\\');
    return p;
}

} // namespace

class u_orlen_fun_test : public QObject {
    Q_OBJECT

    const lumora::u_orlen_fun fun{};

private slots:
    void decto_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("base");
        QTest::addColumn<QString>("expected");

        QTest::newRow("255 in hex") << "255" << 16 << "FF";
        QTest::newRow("zero") << "0" << 16 << "0";
        QTest::newRow("nine below the base") << "9" << 16 << "9";
        QTest::newRow("ten below the base is a letter") << "10" << 16 << "A";
        QTest::newRow("base itself") << "16" << 16 << "10";
        QTest::newRow("35 in base 36") << "35" << 36 << "Z";
        QTest::newRow("36 in base 36") << "36" << 36 << "10";
        QTest::newRow("digit 36 runs past Z") << "36" << 37 << "[";
        QTest::newRow("binary") << "5" << 2 << "101";
        QTest::newRow("largest 16-bit") << "65535" << 16 << "FFFF";
        QTest::newRow("digit code wraps at 16 bits") << "65534" << 65535 << "5";
        QTest::newRow("negative stays decimal") << "-20" << 16 << "-20";
        QTest::newRow("integral value written with .0") << "2.0" << 16 << "2";
        QTest::newRow("int64 limit") << "9223372036854775807" << 16 << "7FFFFFFFFFFFFFFF";
        QTest::newRow("beyond 64 bits") << "18446744073709551616" << 16 << "10000000000000000";
        QTest::newRow("2^100 in binary")
            << "1267650600228229401496703205376" << 2 << "1" + QString(100, u'0');
        QTest::newRow("fractional digit ten in decimal") << "0.625" << 16 << "0.10";
        QTest::newRow("exact binary fraction") << "0.5" << 2 << "0.1";
        QTest::newRow("ten fractional digits at most") << "0.1" << 2 << "0.0001100110";
        QTest::newRow("integer and fraction") << "255.5" << 16 << "FF.8";
        QTest::newRow("negative fraction") << "-1.5" << 16 << "-1.8";
        QTest::newRow("negative integer part stays decimal") << "-20.5" << 16 << "-20.8";
        QTest::newRow("sign kept between 0 and -1") << "-0.5" << 16 << "-0.8";
        QTest::newRow("negative below -2^63 stays decimal")
            << "-9223372036854775809" << 16 << "-9223372036854775809";
        QTest::newRow("negative 10^20 stays decimal")
            << "-100000000000000000000" << 16 << "-100000000000000000000";
        QTest::newRow("10^40 exact in base 3") << "1e40" << 3
                                               << "211112220011011200002021020221120011011121010121"
                                                  "200011122112122221112100221111011101";
        QTest::newRow("34 nines exact in hex")
            << "9999999999999999999999999999999999" << 16 << "1ED09BEAD87C0378D8E63FFFFFFFF";
        QTest::newRow("123e60 exact in base 7")
            << "123e60" << 7
            << "23330564230454315265340502214314541443333261442260332230622262232156146214";
        QTest::newRow("fraction digit never reaches the base")
            << "0.3333333333333333333333333333333333" << 3 << "0.0222222222";
        QTest::newRow("base 1") << "5" << 1 << "";
        QTest::newRow("base 0") << "5" << 0 << "";
    }

    void decto()
    {
        QFETCH(QString, value);
        QFETCH(int, base);
        QFETCH(QString, expected);
        const auto v = decimal::from_text(value);
        QVERIFY(v);
        QCOMPARE(fun.decto(*v, static_cast<std::uint16_t>(base)), expected);
    }

    void decto_null()
    {
        QCOMPARE(fun.decto(std::nullopt, 16), QString());
        QCOMPARE(fun.decto(decimal(5), std::nullopt), QString());
    }

    void todec_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("expected");

        QTest::newRow("FF in hex") << "FF"
                                   << "16"
                                   << "255";
        QTest::newRow("lower case not folded") << "ff"
                                               << "16"
                                               << "799";
        QTest::newRow("single lower-case letter") << "a"
                                                  << "16"
                                                  << "42";
        QTest::newRow("single letter") << "A"
                                       << "16"
                                       << "10";
        QTest::newRow("Z in base 36") << "Z"
                                      << "36"
                                      << "35";
        QTest::newRow("binary fraction") << "1.1"
                                         << "2"
                                         << "1.5";
        QTest::newRow("point first") << ".5"
                                     << "16"
                                     << "0.3125";
        QTest::newRow("negative binary") << "-101"
                                         << "2"
                                         << "-5";
        QTest::newRow("negative single digit") << "-5"
                                               << "16"
                                               << "-5";
        QTest::newRow("minus before letters is a zero digit") << "-FF"
                                                              << "16"
                                                              << "255";
        QTest::newRow("digits not checked against the base") << "19"
                                                             << "2"
                                                             << "11";
        QTest::newRow("second point is a zero digit") << "1.1.1"
                                                      << "2"
                                                      << "1.625";
        QTest::newRow("empty") << ""
                               << "16"
                               << "0";
        QTest::newRow("fractional base") << "11"
                                         << "0.5"
                                         << "1.5";
        const QString ten_to_6144 = u'1' + QString(6144, u'0');
        QTest::newRow("the largest power of ten a decimal holds")
            << ten_to_6144 << "10" << ten_to_6144;
        QTest::newRow("one digit more overflows") << ten_to_6144 + u'0' << "10"
                                                  << "overflow";
        QTest::newRow("100,000 binary digits overflow") << QString(100000, u'1') << "2"
                                                        << "overflow";
        QTest::newRow("a long fraction in base one half overflows")
            << "0." + QString(30000, u'1') << "0.5"
            << "overflow";
    }

    void todec()
    {
        QFETCH(QString, text);
        QFETCH(QString, base);
        QFETCH(QString, expected);
        if (expected == u"overflow")
            QVERIFY_THROWS_EXCEPTION(rt::numeric_overflow,
                                     fun.todec(text, *decimal::from_text(base)));
        else
            QCOMPARE(fun.todec(text, *decimal::from_text(base)).to_text(), expected);
    }

    void todec_null()
    {
        QCOMPARE(fun.todec(std::nullopt, decimal(16)), decimal(0));
        QCOMPARE(fun.todec(QStringLiteral("FF"), std::nullopt), decimal(0));
    }

    void todec_fraction_in_base_zero_divides_by_zero()
    {
        QVERIFY_THROWS_EXCEPTION(rt::division_by_zero,
                                 fun.todec(QStringLiteral("0.1"), decimal(0)));
    }

    // Every base and a range of values: decto and todec undo each other.
    void base_round_trip()
    {
        for (int base = 2; base <= 36; ++base) {
            for (std::int64_t v = 0; v < 3000; v += 7) {
                const QString text = fun.decto(decimal(v), static_cast<std::uint16_t>(base));
                QCOMPARE(fun.todec(text, decimal(base)), decimal(v));
            }
        }
        // A fraction that ends within ten digits, in hex (digits below ten only).
        QCOMPARE(fun.todec(fun.decto(decimal_text("2.5625"), 16), decimal(16)),
                 decimal_text("2.5625"));
    }

    // The fast path of integers agrees with the general decimal one beyond 64 bits.
    void large_integers_agree()
    {
        const decimal two64 = decimal_text("18446744073709551616");
        for (const int base : {2, 7, 10, 16, 36}) {
            const QString big = lumora::detail::decto(two64 * decimal(3) + decimal(5),
                                                      static_cast<std::uint16_t>(base));
            QCOMPARE(fun.todec(big, decimal(base)), two64 * decimal(3) + decimal(5));
        }
    }

    void power_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<int>("exponent");
        QTest::addColumn<QString>("expected");
        QTest::newRow("2^10") << "2" << 10 << "1024";
        QTest::newRow("negative exponent") << "2" << -2 << "0.25";
        QTest::newRow("zero to zero") << "0" << 0 << "1";
        QTest::newRow("negative base, odd exponent") << "-3" << 3 << "-27";
        QTest::newRow("decimal base exact") << "1.5" << 2 << "2.25";
        QTest::newRow("tenths") << "10" << -3 << "0.001";
        QTest::newRow("exact beyond double precision") << "1.1" << 20 << "6.72749994932560009201";
        QTest::newRow("the largest power of ten a decimal holds")
            << "10" << 6144 << u'1' + QString(6144, u'0');
        QTest::newRow("10^6145 overflows") << "10" << 6145 << "overflow";
        QTest::newRow("10^7000 overflows") << "10" << 7000 << "overflow";
        QTest::newRow("0.1^-7000 overflows") << "0.1" << -7000 << "overflow";
        QTest::newRow("10^-7000 is too small and rounds to 0") << "10" << -7000 << "0";
    }

    void power()
    {
        QFETCH(QString, base);
        QFETCH(int, exponent);
        QFETCH(QString, expected);
        if (expected == u"overflow") {
            QVERIFY_THROWS_EXCEPTION(
                rt::numeric_overflow,
                fun.power(*decimal::from_text(base), static_cast<std::int16_t>(exponent)));
            return;
        }
        const auto result =
            fun.power(*decimal::from_text(base), static_cast<std::int16_t>(exponent));
        QVERIFY(result);
        QCOMPARE(result->to_text(), expected);
    }

    void power_null_and_zero_divisor()
    {
        QVERIFY(!fun.power(std::nullopt, 2));
        QVERIFY(!fun.power(decimal(2), std::nullopt));
        QVERIFY_THROWS_EXCEPTION(rt::division_by_zero, fun.power(decimal(0), std::int16_t{-1}));
    }

    void replace_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("find");
        QTest::addColumn<QString>("with");
        QTest::addColumn<QString>("expected");
        QTest::newRow("inserted text not searched again") << "aaa"
                                                          << "a"
                                                          << "aa"
                                                          << "aaaaaa";
        QTest::newRow("not found") << "abc"
                                   << "x"
                                   << "y"
                                   << "abc";
        QTest::newRow("empty search text changes nothing") << "abc"
                                                           << ""
                                                           << "y"
                                                           << "abc";
        QTest::newRow("every occurrence") << "abcabc"
                                          << "bc"
                                          << "X"
                                          << "aXaX";
        QTest::newRow("case-sensitive") << "ABC"
                                        << "b"
                                        << "x"
                                        << "ABC";
        QTest::newRow("left to right, no overlap") << "aaaa"
                                                   << "aa"
                                                   << "b"
                                                   << "bb";
        QTest::newRow("replace by nothing") << "a-b-c"
                                            << "-"
                                            << ""
                                            << "abc";
        QTest::newRow("Chinese") << QString::fromUtf8("中文中") << QString::fromUtf8("中") << "z"
                                 << QString::fromUtf8("z文z");
        QTest::newRow("whole text") << "abc"
                                    << "abc"
                                    << ""
                                    << "";
        // Longer texts go eight units at a time: matches at the edges of those blocks, in a
        // last partial block, everywhere, and replacements shorter and longer than a block.
        // Qt's own replace is the reference.
        QString edges(41, u'x');
        for (const int at : {0, 7, 8, 15, 16, 23, 39, 40})
            edges[at] = u';';
        const auto row = [](const char* name, const QString& text, const QString& find,
                            const QString& with) {
            QTest::newRow(name) << text << find << with << QString(text).replace(find, with);
        };
        row("long text, matches at block edges", edges, ";", ", ");
        row("long text, replacement longer than a block", edges, ";", "0123456789ABCDEF");
        row("long text, deletion", edges, ";", "");
        row("long text, every unit matches", QString(21, u';'), ";", "ab");
        row("long text, two-unit search", edges, "x;", QString::fromUtf8("中"));
        row("long Chinese text", QString::fromUtf8("考生编号;中文;").repeated(5), ";", ", ");
    }

    void replace()
    {
        QFETCH(QString, text);
        QFETCH(QString, find);
        QFETCH(QString, with);
        QFETCH(QString, expected);
        const auto result = fun.replace(text, find, with);
        QVERIFY(result);
        QCOMPARE(*result, expected);
    }

    void replace_null()
    {
        const QString abc = QStringLiteral("abc");
        QVERIFY(!fun.replace(std::nullopt, abc, abc));
        QCOMPARE(fun.replace(abc, std::nullopt, abc), std::optional<QString>(abc));
        QVERIFY(!fun.replace(abc, QStringLiteral("b"), std::nullopt));
        QCOMPARE(fun.replace(abc, QStringLiteral("x"), std::nullopt), std::optional<QString>(abc));
    }

    void getsep_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("sep");
        QTest::addColumn<int>("end");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("empty piece between touching separators")
            << "a,b,,c"
            << "," << 0 << QStringList{"a", "b", "", "c"};
        QTest::newRow("limit 2") << "a,b,,c"
                                 << "," << 2 << QStringList{"a", "b"};
        QTest::newRow("limit above the count") << "a,b"
                                               << "," << 9 << QStringList{"a", "b"};
        QTest::newRow("only a separator") << ","
                                          << "," << 0 << QStringList{""};
        QTest::newRow("empty text") << ""
                                    << "," << 0 << QStringList{""};
        QTest::newRow("trailing separator") << "a,b,"
                                            << "," << 0 << QStringList{"a", "b"};
        QTest::newRow("two-character separator") << "a::b::c"
                                                 << "::" << 0 << QStringList{"a", "b", "c"};
        QTest::newRow("appended separator overlaps the end") << "a,"
                                                             << ",," << 0 << QStringList{"a"};
        QTest::newRow("appended separator overlaps the end after pieces")
            << "a;;b;"
            << ";;" << 0 << QStringList{"a", "b"};
        QTest::newRow("limit reached before the end") << "a;b;c"
                                                      << ";" << 2 << QStringList{"a", "b"};
        QTest::newRow("no separator") << "abc"
                                      << "," << 0 << QStringList{"abc"};
        QTest::newRow("empty separator gives the whole text") << "a,b"
                                                              << "" << 0 << QStringList{"a,b"};
    }

    void getsep()
    {
        QFETCH(QString, text);
        QFETCH(QString, sep);
        QFETCH(int, end);
        QFETCH(QStringList, expected);
        const auto pieces = fun.getsep(text, sep, static_cast<std::uint16_t>(end));
        QCOMPARE(QStringList(pieces.begin(), pieces.end()), expected);
    }

    void getsep_without_limit_keeps_every_piece()
    {
        const int count = 70000; // more than a 16-bit counter holds
        QString text;
        for (int i = 0; i < count; ++i)
            text += QString::number(i) + u';';
        const auto pieces = fun.getsep(text, QStringLiteral(";"), 0);
        QCOMPARE(pieces.size(), std::size_t(count));
        QCOMPARE(pieces.back(), QString::number(count - 1));
        QCOMPARE(fun.getsep(text, QStringLiteral(";"), 65535).size(), std::size_t(65535));
    }

    void getsep_null()
    {
        const QString t = QStringLiteral("a,b");
        QVERIFY(fun.getsep(std::nullopt, QStringLiteral(","), 0).empty());
        QVERIFY(fun.getsep(t, std::nullopt, 0).empty());
        QVERIFY(fun.getsep(t, QStringLiteral(","), std::nullopt).empty());
    }

    void arraysort_data()
    {
        QTest::addColumn<QVariantList>("input");
        QTest::addColumn<QVariant>("order");
        QTest::addColumn<QVariantList>("expected");
        const QVariant asc = QStringLiteral("asc");
        QTest::newRow("ascending") << QVariantList{3, 1, 2} << asc << QVariantList{1, 2, 3};
        QTest::newRow("any other text descends")
            << QVariantList{3, 1, 2} << QVariant(QStringLiteral("ASC")) << QVariantList{3, 2, 1};
        QTest::newRow("null descends")
            << QVariantList{3, 1, 2} << QVariant() << QVariantList{3, 2, 1};
        QTest::newRow("texts by code units")
            << QVariantList{"b", "B", "a"} << asc << QVariantList{"B", "a", "b"};
        QTest::newRow("numbers of different types by value")
            << QVariantList{2.5, QVariant::fromValue(decimal_text("2.25")), 1u, qlonglong(-4)}
            << asc
            << QVariantList{qlonglong(-4), 1u, QVariant::fromValue(decimal_text("2.25")), 2.5};
        QTest::newRow("null does not move")
            << QVariantList{3, QVariant(), 1} << asc << QVariantList{1, QVariant(), 3};
        QTest::newRow("empty") << QVariantList{} << asc << QVariantList{};
        QTest::newRow("equal values in selection order")
            << QVariantList{1, 2.0, 2, 1.0} << asc << QVariantList{1, 1.0, 2, 2.0};
        QTest::newRow("doubles by exact value")
            << QVariantList{0.3, 0.1, 0.2, 0.30000000000000004} << QVariant()
            << QVariantList{0.30000000000000004, 0.3, 0.2, 0.1};
        const double inf = std::numeric_limits<double>::infinity();
        const double nan = std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("infinity as the largest double")
            << QVariantList{1.0, inf, 0.5} << asc << QVariantList{0.5, 1.0, inf};
        QTest::newRow("both infinities among integers, descending")
            << QVariantList{-inf, 2, inf, -1.5} << QVariant() << QVariantList{inf, 2, -1.5, -inf};
        QTest::newRow("NaN keeps its place")
            << QVariantList{inf, nan, 1.0} << asc << QVariantList{1.0, nan, inf};
    }

    void arraysort()
    {
        QFETCH(QVariantList, input);
        QFETCH(QVariant, order);
        QFETCH(QVariantList, expected);
        const std::optional<QString> sort =
            order.isValid() ? std::optional<QString>(order.toString()) : std::nullopt;
        const auto result = fun.arraysort({input.begin(), input.end()}, sort);
        QCOMPARE(result.size(), std::size_t(expected.size()));
        for (std::size_t i = 0; i < result.size(); ++i) {
            QCOMPARE(result[i].metaType(), expected[int(i)].metaType());
            if (result[i].metaType() == QMetaType::fromType<decimal>())
                QCOMPARE(result[i].value<decimal>(), expected[int(i)].value<decimal>());
            else if (std::isnan(expected[int(i)].toDouble()))
                QVERIFY(std::isnan(result[i].toDouble()));
            else
                QCOMPARE(result[i], expected[int(i)]);
        }
    }

    void arraysort_takes_first_of_equals()
    {
        const QVariantList input{QVariant::fromValue(decimal(1)), 1, 0};
        const auto result = fun.arraysort({input.begin(), input.end()}, QStringLiteral("desc"));
        QCOMPARE(result[0].metaType(), QMetaType::fromType<decimal>());
        QCOMPARE(result[1].metaType(), QMetaType::fromType<int>());
    }

    void createpath_data()
    {
        // In the paths, ROOT stands for the temporary directory (with backslashes where the
        // path is written with them).
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected"); // "" or "PATH" for the trimmed path itself
        QTest::addColumn<QStringList>("dirs");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("absent");

        QTest::newRow("drive letter, two levels, file")
            << "C:ROOT\\a\\b\\f.txt"
            << "" << QStringList{"a", "a/b"} << QStringList{"a/b/f.txt"} << QStringList{};
        QTest::newRow("host path")
            << "ROOT/x/y/f.txt"
            << "" << QStringList{"x", "x/y"} << QStringList{"x/y/f.txt"} << QStringList{};
        QTest::newRow("spaces trimmed")
            << "  ROOT/s/f.txt  "
            << "" << QStringList{"s"} << QStringList{"s/f.txt"} << QStringList{};
        QTest::newRow("directory path fails at the file")
            << "C:ROOT\\d\\"
            << "PATH" << QStringList{"d"} << QStringList{} << QStringList{};
        QTest::newRow("leading backslash: directories only")
            << "ROOT\\e\\f.txt"
            << "" << QStringList{"e"} << QStringList{} << QStringList{"e/f.txt"};
        QTest::newRow("existing file is kept")
            << "ROOT/keep.txt"
            << "" << QStringList{} << QStringList{"keep.txt"} << QStringList{};
        QTest::newRow("directory blocked by a file")
            << "ROOT/blocker/sub/f.txt"
            << "ROOT/blocker" << QStringList{} << QStringList{} << QStringList{"blocker/sub"};
        QTest::newRow("FIFO is not opened")
            << "ROOT/fifo"
            << "PATH" << QStringList{} << QStringList{} << QStringList{};
        QTest::newRow("blank") << "   "
                               << "" << QStringList{} << QStringList{} << QStringList{};
        QTest::newRow("drive letter alone names no file")
            << "C:"
            << "PATH" << QStringList{} << QStringList{} << QStringList{};
        // Relative to the working directory, which is ROOT here.
        QTest::newRow("drive letter before a relative name")
            << "c:x.txt"
            << "" << QStringList{} << QStringList{"x.txt"} << QStringList{"c:x.txt"};
        QTest::newRow("a digit before a colon is no drive")
            << "1:x.txt"
            << "" << QStringList{} << QStringList{"1:x.txt"} << QStringList{"x.txt"};
        QTest::newRow("a colon before a colon is no drive")
            << "::x.txt"
            << "" << QStringList{} << QStringList{"::x.txt"} << QStringList{"x.txt"};
        QTest::newRow("a non-ASCII letter before a colon is no drive")
            << QStringLiteral("ä:d/x.txt") << "" << QStringList{QStringLiteral("ä:d")}
            << QStringList{QStringLiteral("ä:d/x.txt")} << QStringList{"d"};
        QTest::newRow("U+0000 in a directory name")
            << QStringLiteral("ROOT/n") + QChar(0) + "ul/f.txt"
            << QStringLiteral("ROOT/n") + QChar(0) + "ul" << QStringList{} << QStringList{}
            << QStringList{};
        QTest::newRow("U+0000 in the file name")
            << QStringLiteral("ROOT/f") + QChar(0) + ".txt"
            << "PATH" << QStringList{} << QStringList{} << QStringList{"f"};
    }

    void createpath()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QFETCH(QStringList, dirs);
        QFETCH(QStringList, files);
        QFETCH(QStringList, absent);
        // The library prints nothing: no path, however odd, makes Qt warn.
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));

        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString root = tmp.path();
        {
            QFile keep(root + "/keep.txt");
            QVERIFY(keep.open(QIODevice::WriteOnly));
            keep.write("kept");
            QFile blocker(root + "/blocker");
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        }
        QCOMPARE(::mkfifo(QFile::encodeName(root + "/fifo").constData(), 0600), 0);

        const QString root_written = path.contains(u'\\') ? backslashed(root) : root;
        path.replace(QStringLiteral("ROOT"), root_written);
        expected.replace(QStringLiteral("ROOT"), root_written);
        if (expected == u"PATH")
            expected = path.trimmed();

        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(root));
        const QString answer = fun.createpath(path);
        QDir::setCurrent(previous);
        QCOMPARE(answer, expected);
        for (const QString& dir : dirs)
            QVERIFY2(QFileInfo(root + '/' + dir).isDir(), qPrintable(dir));
        for (const QString& file : files) {
            const QFileInfo info(root + '/' + file);
            QVERIFY2(info.isFile(), qPrintable(file));
            QCOMPARE(info.size(), file == u"keep.txt" ? 4 : 0);
        }
        for (const QString& name : absent)
            QVERIFY2(!QFileInfo::exists(root + '/' + name), qPrintable(name));
    }

    void createpath_null() { QCOMPARE(fun.createpath(std::nullopt), QString()); }

    void moveShouldRaiseAndPlaceAtPointer()
    {
        QWidget window;
        window.setGeometry(100, 100, 400, 300);
        QWidget grid(&window);
        grid.setObjectName("grid");
        grid.setGeometry(0, 0, 50, 50);
        QWidget other(&window);
        other.setGeometry(0, 0, 400, 300);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.children().last(), &other);

        const QPoint pointer = window.mapToGlobal(QPoint(120, 80));
        QCursor::setPos(pointer);
        if (QCursor::pos() != pointer)
            QSKIP("the platform does not move the pointer");
        fun.move(&grid);
        QCOMPARE(grid.pos(), QPoint(120, 80));
        QCOMPARE(window.children().last(), &grid); // in front of its siblings
        QCOMPARE(window.childAt(125, 85), &grid);
    }

    void moveOfNullIsNullObjectReference()
    {
        QVERIFY_THROWS_EXCEPTION(rt::null_object_reference, fun.move(nullptr));
    }
};

QTEST_MAIN(u_orlen_fun_test)
#include "u_orlen_fun_test.moc"
