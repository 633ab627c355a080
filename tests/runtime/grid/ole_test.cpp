#include <rt/grid/formula.h>
#include <rt/grid/ole.h>
#include <rt/grid/xlsx.h>
#include <rt/value/errors.h>

#include "recording_server.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using rt::ole_path;
using rt::ole_step;

namespace {

ole_step step(const char* name, QVariantList args = {})
{
    return {QString::fromLatin1(name), std::move(args)};
}

// A workbook with a text column and two number columns, rows 2..4 of data.
QString make_book(const QTemporaryDir& dir)
{
    rt::xlsx::workbook book;
    book.sheets.emplace_back();
    auto& s = book.sheets.front();
    const QStringList names{QStringLiteral("张三丰"), QStringLiteral("ab"), QStringLiteral("c")};
    for (int r = 0; r < 3; ++r) {
        auto& name = s.make(r + 2, 1);
        name.type = rt::xlsx::cell::kind::text;
        name.text = names[r];
        auto& n = s.make(r + 2, 2);
        n.type = rt::xlsx::cell::kind::number;
        n.number = 1.5 * (r + 1);
        auto& t = s.make(r + 2, 3);
        t.type = rt::xlsx::cell::kind::text;
        t.text = QStringLiteral("x");
    }
    const QString file = dir.filePath(QStringLiteral("book.xlsx"));
    QString error;
    if (!rt::xlsx::write(book, file, error))
        qFatal("cannot write the test workbook: %s", qPrintable(error));
    return file;
}

} // namespace

class ole_test : public QObject {
    Q_OBJECT

private slots:
    void r1c1_data()
    {
        QTest::addColumn<QString>("formula");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("expected");
        QTest::newRow("sum above") << "=SUM(R[-3]C:R[-1]C)" << 5 << 2 << "=SUM(B2:B4)";
        QTest::newRow("one row above") << "=SUM(R[-1]C:R[-1]C)" << 3 << 1 << "=SUM(A2:A2)";
        QTest::newRow("two-letter column") << "=RC[1]*2" << 7 << 27 << "=AB7*2";
        QTest::newRow("absolute") << "=R1C1+R[0]C[-1]" << 2 << 2 << "=A1+A2";
        QTest::newRow("function names untouched") << "=ROUND(RC[-1],0)" << 1 << 2 << "=ROUND(A1,0)";
        QTest::newRow("texts untouched") << "=\"RC\"&RC[-1]" << 1 << 2 << "=\"RC\"&A1";
    }

    void r1c1()
    {
        QFETCH(QString, formula);
        QFETCH(int, row);
        QFETCH(int, column);
        QFETCH(QString, expected);
        QCOMPARE(rt::detail::r1c1_to_a1(formula, row, column), expected);
    }

    void r1c1_outside_sheet()
    {
        QVERIFY_THROWS_EXCEPTION(rt::runtime_error,
                                 rt::detail::r1c1_to_a1(QStringLiteral("=R[-2]C"), 1, 1));
    }

    void addresses_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("letters");
        QTest::newRow("A") << 1 << "A";
        QTest::newRow("Z") << 26 << "Z";
        QTest::newRow("AA") << 27 << "AA";
        QTest::newRow("AZ") << 52 << "AZ";
        QTest::newRow("BA") << 53 << "BA";
        QTest::newRow("ZZ") << 702 << "ZZ";
        QTest::newRow("AAA") << 703 << "AAA";
        QTest::newRow("XFD") << 16384 << "XFD";
    }

    void addresses()
    {
        QFETCH(int, column);
        QFETCH(QString, letters);
        QCOMPARE(rt::xlsx::column_letters(column), letters);
        const auto a1 = rt::xlsx::parse_a1(letters + QStringLiteral("12"));
        QVERIFY(a1);
        QCOMPARE(a1->second, column);
        QCOMPARE(a1->first, 12);
    }

    void bad_addresses()
    {
        for (const char* a : {"", "A", "1", "A0", "XFE1", "A1048577", "A1B", "AAAA1", "A-1"})
            QVERIFY2(!rt::xlsx::parse_a1(QString::fromLatin1(a)), a);
    }

    void widths()
    {
        QCOMPARE(rt::xlsx::display_width(u"abc"), 3);
        QCOMPARE(rt::xlsx::display_width(u"合计"), 4);
        QCOMPARE(rt::xlsx::display_width(u"ＡＢ1"), 5);
        QCOMPARE(rt::xlsx::display_width(QString::fromUtf8("\U00020000")), 2);
        for (const double v : {0.0, -1.5, 123456.25, 1e20, 1.0 / 3, 12345678901.0, -0.000125})
            QCOMPARE(rt::xlsx::number_width(v), int(rt::xlsx::number_text(v).size()));
    }

    // The whole sequence of an export on the real server, read back from the saved file.
    void server_round_trip()
    {
        QTemporaryDir dir;
        const QString file = make_book(dir);
        rt::oleobject ole;
        QCOMPARE(ole.connecttonewobject(QStringLiteral("excel.application")), 0);
        ole.set({step("visible")}, false);
        ole.call({step("application"), step("workbooks"), step("open", {file})});
        ole.set({step("cells", {1, 1}), step("value")}, QStringLiteral("=A2"));
        ole.set({step("cells", {1, 2}), step("value")}, QStringLiteral("金额"));
        ole.set({step("rows", {1}), step("horizontalalignment")}, 3);
        for (const char* column : {"B", "C"}) {
            ole.get({step("range", {QString::fromLatin1(column) + QStringLiteral("2:") +
                                    QString::fromLatin1(column) + QStringLiteral("4")}),
                     step("select")});
            ole.get({step("range", {QString::fromLatin1(column) + QStringLiteral("5")}),
                     step("activate")});
            ole.set({step("activecell"), step("formular1c1")},
                    QStringLiteral("=SUM(R[-3]C:R[-1]C)"));
        }
        QCOMPARE(ole.get({step("range", {QStringLiteral("B5")}), step("value")}).toDouble(), 9.0);
        ole.get({step("application"), step("workbooks", {1}), step("worksheets", {1}),
                 step("cells"), step("entirecolumn"), step("autofit")});
        ole.call({step("application"), step("workbooks", {1}), step("save")});
        ole.call({step("application"), step("quit")});
        QCOMPARE(ole.disconnectobject(), 0);

        QString error;
        const auto book = rt::xlsx::read(file, error);
        QVERIFY2(book, qPrintable(error));
        const auto& s = book->sheets.front();
        QCOMPARE(s.at(1, 1)->type, rt::xlsx::cell::kind::text);
        QCOMPARE(s.at(1, 1)->text, QStringLiteral("=A2"));
        QCOMPARE(s.at(1, 2)->align, rt::xlsx::halign::center);
        QCOMPARE(s.at(5, 2)->text, QStringLiteral("SUM(B2:B4)"));
        QVERIFY(s.at(5, 2)->has_result);
        QCOMPARE(s.at(5, 2)->number, 9.0);
        QCOMPARE(s.at(5, 3)->number, 0.0); // texts are left out of a sum
        // "张三丰" is six units wide, "金额" four, "=A2" three; one unit of margin each (the file
        // stores them with the cell padding, 7 5/7 and 5 5/7, and reading takes it off again).
        QCOMPARE(s.widths.at(1), 7.0);
        QCOMPARE(s.widths.at(2), 5.0);
    }

    void refusals_data()
    {
        QTest::addColumn<int>("which");
        QTest::newRow("bad range address") << 0;
        QTest::newRow("unknown member") << 1;
        QTest::newRow("open a missing file") << 2;
        QTest::newRow("cells before a workbook is open") << 3;
        QTest::newRow("bad alignment") << 4;
        QTest::newRow("save a workbook that is not open") << 5;
    }

    void refusals()
    {
        QFETCH(int, which);
        QTemporaryDir dir;
        rt::oleobject ole;
        QVERIFY_THROWS_EXCEPTION(rt::runtime_error, ole.get({step("visible")}));
        QCOMPARE(ole.connecttonewobject(QStringLiteral("Excel.Application")), 0);
        if (which != 3)
            ole.call({step("workbooks"), step("open", {make_book(dir)})});
        const std::vector<ole_path> paths = {
            {step("range", {QStringLiteral(":B")}), step("select")},
            {step("cells", {1, 1}), step("colour")},
            {step("workbooks"), step("open", {dir.filePath(QStringLiteral("none.xlsx"))})},
            {step("cells", {1, 1}), step("value")},
            {step("rows", {1}), step("horizontalalignment")},
            {step("workbooks", {2}), step("save")},
        };
        QVERIFY_THROWS_EXCEPTION(rt::runtime_error, ole.set(paths[which], 9));
    }

    void unknown_progid()
    {
        rt::oleobject ole;
        QCOMPARE(ole.connecttonewobject(QStringLiteral("Word.Application")), -2);
        QVERIFY(!ole.connected());
        QCOMPARE(ole.disconnectobject(), -1);
    }

    void recording_and_failure()
    {
        QStringList log;
        rt::set_ole_factory([&](const QString&, int&) {
            return std::make_unique<qorv::test::recording_server>(nullptr, &log, 2);
        });
        rt::oleobject ole;
        QCOMPARE(ole.connecttonewobject(QStringLiteral("Excel.Application")), 0);
        ole.set({step("cells", {1, 2}), step("value")}, QStringLiteral("合计"));
        QVERIFY_THROWS_EXCEPTION(rt::runtime_error, ole.call({step("quit")}));
        rt::set_ole_factory({});
        QCOMPARE(log, (QStringList{QStringLiteral("set cells(1, 2).value = \"合计\""),
                                   QStringLiteral("call quit")}));
    }

    void damaged_files_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("not a zip") << QByteArray("PK\3\4 this is not a workbook");
    }

    void damaged_files()
    {
        QFETCH(QByteArray, bytes);
        QString error;
        QVERIFY(!rt::xlsx::read_bytes(bytes, error));
        QVERIFY(!error.isEmpty());
    }

    void truncated_workbook()
    {
        QTemporaryDir dir;
        QFile f(make_book(dir));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray whole = f.readAll();
        QString error;
        QVERIFY(rt::xlsx::read_bytes(whole, error));
        QVERIFY(!rt::xlsx::read_bytes(whole.left(whole.size() / 2), error));
    }
};

QTEST_GUILESS_MAIN(ole_test)
#include "ole_test.moc"
