#include <rt/grid/datawindow.h>
#include <rt/grid/xlsx.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using rt::datawindow;
using rt::dw_value;

namespace {

// A grid as a screen shows it: a code table, an invisible column, labels with and without text,
// a computed field, objects in another band.
const char* const grid_syntax = R"dw(release 1;
datawindow(units=0)
table(column=(type=char(20) name=name dbname="t.name" )
column=(type=char(1) name=sex dbname="sex" values="男	1/女	2/" )
column=(type=long name=age dbname="age" )
column=(type=decimal(2) name=fee dbname="fee" )
column=(type=char(10) name=memo dbname="memo" )
)
text(name=name_t band=header text="姓名" x="10" )
text(name=sex_t band=header text="性~"别~"" x="300" )
text(name=age_t band=header x="200" )
column(name=name band=detail x="10" visible="1" )
column(id=2 band=detail x="300" visible="0" )
column(name=age band=detail x="200" )
column(name=fee band=summary x="400" )
compute(name=total band=detail x="500" expression="fee * 2 + age" ))dw";

void fill(datawindow& dw)
{
    QString error;
    QVERIFY2(dw.create(QString::fromUtf8(grid_syntax), error) == 1, qPrintable(error));
    const QList<QStringList> rows = {{"张三", "1", "30", "1.25", "=1+1"},
                                     {"李四", "2", "25", "0.5", ""},
                                     {"王五", "3", "30", "2", "x"}};
    for (const auto& r : rows) {
        const long row = dw.insertrow(0);
        for (int c = 0; c < r.size(); ++c)
            QCOMPARE(dw.setitem(row, c + 1, r[c]), 1);
    }
}

QStringList column_texts(const datawindow& dw, int column)
{
    QStringList out;
    for (long r = 1; r <= dw.rowcount(); ++r)
        out << rt::dw_value_text(dw.getitem(r, column));
    return out;
}

} // namespace

class datawindow_test : public QObject {
    Q_OBJECT

private slots:
    void create_data()
    {
        QTest::addColumn<QString>("syntax");
        QTest::addColumn<bool>("valid");
        const QString head = QStringLiteral("release 1;\r\ntable(");
        QTest::newRow("data store shape")
            << head + "column=(type=char(1) name = ztext dbname=\"ztext\" )\r\n"
                      "column=(type=long name = zx dbname=\"zx\" )\r\n)"
            << true;
        QTest::newRow("dbname only") << head + "column=(type=char(1) dbname=\"a b\" )\r\n)" << true;
        QTest::newRow("no release") << "table(column=(type=long name=a))" << false;
        QTest::newRow("newer release") << "release 99;table(column=(type=long name=a))" << false;
        QTest::newRow("missing parenthesis") << head + "column=(type=long name=a)" << false;
        QTest::newRow("unknown type") << head + "column=(type=blob name=a))" << false;
        QTest::newRow("unterminated text") << head + "column=(type=long name=\"a))" << false;
        QTest::newRow("no columns") << head + ")" << false;
        QTest::newRow("duplicate column") << head + "column=(type=long name=a)column=(type=long "
                                                    "name=A))"
                                          << false;
        QTest::newRow("column object without column")
            << head + "column=(type=long name=a))column(name=b)" << false;
        QTest::newRow("bad id") << head + "column=(type=long name=a))column(id=2)" << false;
        QTest::newRow("bad expression")
            << head + "column=(type=long name=a))compute(name=c expression=\"a +\")" << false;
        QTest::newRow("visible not 0 or 1")
            << head + "column=(type=long name=a))column(name=a visible=\"yes\")" << false;
    }

    void create()
    {
        QFETCH(QString, syntax);
        QFETCH(bool, valid);
        datawindow dw;
        QString error;
        QCOMPARE(dw.create(syntax, error), valid ? 1 : -1);
        QCOMPARE(error.isEmpty(), valid);
        QCOMPARE(dw.column_count() > 0, valid);
    }

    void describe_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("objects") << "datawindow.objects"
                                 << "name_t\tsex_t\tage_t\tname\tsex\tage\tfee\ttotal";
        QTest::newRow("column count") << "DataWindow.Column.Count"
                                      << "5";
        QTest::newRow("#1 visible") << "#1.Visible"
                                    << "1";
        QTest::newRow("#2 invisible") << "#2.Visible"
                                      << "0";
        QTest::newRow("#2 name") << "#2.name"
                                 << "sex";
        QTest::newRow("column without field") << "#5.visible"
                                              << "!";
        QTest::newRow("column out of range") << "#6.name"
                                             << "!";
        QTest::newRow("column type") << "age.type"
                                     << "column";
        QTest::newRow("compute type") << "total.type"
                                      << "compute";
        QTest::newRow("label type") << "name_t.type"
                                    << "text";
        QTest::newRow("band") << "fee.band"
                              << "summary";
        QTest::newRow("x") << "age.x"
                           << "200";
        QTest::newRow("label text") << "name_t.text" << QStringLiteral("姓名");
        QTest::newRow("label text with quotes") << "sex_t.text" << QStringLiteral("性\"别\"");
        QTest::newRow("label without text") << "age_t.text"
                                            << "?";
        QTest::newRow("no such label") << "fee_t.text"
                                       << "!";
        QTest::newRow("unknown property") << "age.colour"
                                          << "!";
        QTest::newRow("code table display")
            << "evaluate('LookUpDisplay(sex)', 2)" << QStringLiteral("女");
        QTest::newRow("code not in table") << "evaluate('LookUpDisplay(sex)', 3)"
                                           << "3";
        QTest::newRow("number display") << "evaluate('LookUpDisplay(fee)', 1)"
                                        << "1.25";
        QTest::newRow("computed field") << "evaluate('total',1)"
                                        << "32.5";
        QTest::newRow("expression") << "evaluate('(age - 5) / 5 * -1', 2)"
                                    << "-4";
        QTest::newRow("text join")
            << "evaluate('name + \"先生\"', 1)" << QStringLiteral("张三先生");
        QTest::newRow("division by zero is null") << "evaluate('age / 0', 1)"
                                                  << "";
        QTest::newRow("text in arithmetic") << "evaluate('name * 2', 1)"
                                            << "!";
        QTest::newRow("unknown name") << "evaluate('nothing', 1)"
                                      << "!";
        QTest::newRow("row 0") << "evaluate('age', 0)"
                               << "!";
        QTest::newRow("row past the end") << "evaluate('age', 4)"
                                          << "!";
        QTest::newRow("malformed evaluate") << "evaluate('age', x)"
                                            << "!";
    }

    void describe()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        datawindow dw;
        fill(dw);
        QCOMPARE(dw.describe(path), expected);
    }

    void compute_function()
    {
        datawindow dw;
        fill(dw);
        QCOMPARE(dw.set_compute_function(QStringLiteral("age"), {}), -1);
        QCOMPARE(dw.set_compute_function(QStringLiteral("total"),
                                         [](const datawindow& g, long row) {
                                             return dw_value{QStringLiteral("r%1/%2").arg(row).arg(
                                                 g.rowcount())};
                                         }),
                 1);
        QCOMPARE(dw.describe(u"evaluate('total', 2)"), QStringLiteral("r2/3"));
    }

    void sort_data()
    {
        QTest::addColumn<QString>("criteria");
        QTest::addColumn<int>("result");
        QTest::addColumn<QStringList>("names");
        const QStringList unsorted{QStringLiteral("张三"), QStringLiteral("李四"),
                                   QStringLiteral("王五")};
        QTest::newRow("number ascending, stable for equal keys")
            << "age A" << 1
            << QStringList{QStringLiteral("李四"), QStringLiteral("张三"), QStringLiteral("王五")};
        QTest::newRow("descending then second key")
            << "age D, fee D" << 1
            << QStringList{QStringLiteral("王五"), QStringLiteral("张三"), QStringLiteral("李四")};
        QTest::newRow("by number")
            << "#4 A" << 1
            << QStringList{QStringLiteral("李四"), QStringLiteral("张三"), QStringLiteral("王五")};
        QTest::newRow("unknown column") << "zz A" << -1 << unsorted;
        QTest::newRow("no order") << "age" << -1 << unsorted;
        QTest::newRow("bad order") << "age X" << -1 << unsorted;
    }

    void sort()
    {
        QFETCH(QString, criteria);
        QFETCH(int, result);
        QFETCH(QStringList, names);
        datawindow dw;
        fill(dw);
        QCOMPARE(dw.setsort(criteria), result);
        QCOMPARE(dw.sort(), result);
        QCOMPARE(column_texts(dw, 1), names);
    }

    void insert_and_setitem()
    {
        datawindow dw;
        fill(dw);
        QCOMPARE(dw.insertrow(1), 1);
        QCOMPARE(dw.rowcount(), 4);
        QCOMPARE(dw.insertrow(6), -1);
        QCOMPARE(dw.insertrow(5), 5);
        QCOMPARE(dw.deleterow(5), 1);
        QCOMPARE(dw.setitem(1, QStringLiteral("name"), QStringLiteral("首行 longer than 20 chars")),
                 1);
        QCOMPARE(column_texts(dw, 1).first(), QStringLiteral("首行 longer than 20 chars"));
        QCOMPARE(dw.setitem(1, QStringLiteral("age"), QStringLiteral("x")), -1);
        QCOMPARE(dw.setitem(1, 6, QStringLiteral("1")), -1);
        QCOMPARE(dw.setitem(5, 1, QStringLiteral("1")), -1);
        QVERIFY(std::holds_alternative<std::monostate>(dw.getitem(1, 3)));
    }

    void saveas()
    {
        QTemporaryDir dir;
        datawindow dw;
        fill(dw);
        const QString file = dir.filePath(QStringLiteral("grid.xlsx"));
        QCOMPARE(dw.saveas(file, rt::saveas_type::xlsx, true), 1);
        QString error;
        const auto book = rt::xlsx::read(file, error);
        QVERIFY2(book, qPrintable(error));
        const auto& s = book->sheets.front();
        QCOMPARE(s.rows.size(), std::size_t{4});
        QCOMPARE(s.at(1, 2)->text, QStringLiteral("sex"));
        QCOMPARE(s.at(2, 1)->text, QStringLiteral("张三"));
        QCOMPARE(s.at(2, 3)->type, rt::xlsx::cell::kind::number);
        QCOMPARE(s.at(2, 4)->number, 1.25);
        // A text that looks like a formula stays a text.
        QCOMPARE(s.at(2, 5)->type, rt::xlsx::cell::kind::text);
        QCOMPARE(s.at(2, 5)->text, QStringLiteral("=1+1"));

        QCOMPARE(dw.saveas(file, rt::saveas_type::excel, false), 1);
        QCOMPARE(rt::xlsx::read(file, error)->sheets.front().at(1, 1)->text,
                 QStringLiteral("张三"));
        // A directory that does not exist: no file, and the result says so.
        QCOMPARE(
            dw.saveas(dir.filePath(QStringLiteral("no/such.xlsx")), rt::saveas_type::xlsx, true),
            -1);
        QCOMPARE(dw.saveas(file, static_cast<rt::saveas_type>(3), true), -1);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("grid.xlsx")});
    }

    // Under a handoff the save offers the workbook it wrote, cell for cell what reading the file
    // gives, once, and only while the file is the one written.
    void saveas_hands_over_what_it_wrote()
    {
        QTemporaryDir dir;
        datawindow dw;
        fill(dw);
        const QString file = dir.filePath(QStringLiteral("grid.xlsx"));
        const rt::xlsx::handoff handoff;
        QCOMPARE(dw.saveas(file, rt::saveas_type::xlsx, true), 1);
        QString error;
        QVERIFY2(rt::xlsx::handoff::finish(error), qPrintable(error));
        const auto read = rt::xlsx::read(file, error);
        QVERIFY2(read, qPrintable(error));
        const auto taken = rt::xlsx::handoff::take(file);
        QVERIFY(taken);
        QVERIFY(!rt::xlsx::handoff::take(file));
        const auto& a = taken->sheets.front();
        const auto& b = read->sheets.front();
        QCOMPARE(a.name, b.name);
        QCOMPARE(a.rows.size(), b.rows.size());
        for (std::size_t r = 0; r < a.rows.size(); ++r) {
            QCOMPARE(a.rows[r].number, b.rows[r].number);
            QCOMPARE(a.rows[r].cells.size(), b.rows[r].cells.size());
            for (std::size_t c = 0; c < a.rows[r].cells.size(); ++c) {
                const auto& x = a.rows[r].cells[c];
                const auto& y = b.rows[r].cells[c];
                QCOMPARE(x.column, y.column);
                QCOMPARE(x.value.type, y.value.type);
                QCOMPARE(x.value.text, y.value.text);
                QCOMPARE(x.value.number, y.value.number);
            }
        }
        // Changed after the save: nothing is handed over.
        QCOMPARE(dw.saveas(file, rt::saveas_type::xlsx, true), 1);
        QVERIFY(rt::xlsx::handoff::finish(error));
        QFile f(file);
        QVERIFY(f.open(QIODevice::Append));
        f.write("x");
        f.close();
        QVERIFY(!rt::xlsx::handoff::take(file));
    }
};

QTEST_GUILESS_MAIN(datawindow_test)
#include "datawindow_test.moc"
