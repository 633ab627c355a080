#include <rt/grid/xlsx.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

using kind = rt::xlsx::cell::kind;

// A workbook of `sheets` sheets of `rows` rows: texts (Chinese, a leading "="), numbers, booleans,
// aligned blanks and now and then a formula with its result, so that every kind of cell crosses
// the writer's queue, in runs longer than one of its batches.
rt::xlsx::workbook make_book(int sheets, int rows)
{
    rt::xlsx::workbook book;
    for (int n = 1; n <= sheets; ++n) {
        auto& s = book.sheets.emplace_back();
        s.name = QStringLiteral("表%1").arg(n);
        // Widths a whole number of pixels wide come back as they were set.
        s.widths = {{2, 12.0}, {3, 0.5}, {5, 30 + 3.0 / 7}};
        for (int r = 1; r <= rows; ++r) {
            auto& text = s.make(r, 1);
            text.type = kind::text;
            text.text =
                r % 7 == 0 ? QStringLiteral("=%1").arg(r) : QStringLiteral("考生%1").arg(r * n);
            text.align = r % 3 == 0 ? rt::xlsx::halign::center : rt::xlsx::halign::general;
            auto& number = s.make(r, 2);
            number.type = kind::number;
            number.number = r * 0.25 - n;
            auto& flag = s.make(r, 3);
            flag.type = kind::boolean;
            flag.number = r % 2;
            if (r % 5 == 0) {
                auto& blank = s.make(r, 4);
                blank.align = rt::xlsx::halign::right;
            }
            if (r % 1000 == 0) {
                auto& formula = s.make(r, 5);
                formula.type = kind::formula;
                formula.text = QStringLiteral("SUM(B1:B%1)").arg(r);
                formula.has_result = true;
                formula.number = r;
            }
        }
    }
    return book;
}

QByteArray contents(const QString& file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class xlsx_writer_test : public QObject {
    Q_OBJECT

private slots:
    void round_trip_data()
    {
        QTest::addColumn<int>("sheets");
        QTest::addColumn<int>("rows");
        QTest::newRow("a few rows") << 1 << 10;
        QTest::newRow("many batches over three sheets") << 3 << 5000;
    }

    void round_trip()
    {
        QFETCH(int, sheets);
        QFETCH(int, rows);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("book.xlsx"));
        const auto book = make_book(sheets, rows);
        QString error;
        QVERIFY2(rt::xlsx::write(book, file, error), qPrintable(error));
        const auto back = rt::xlsx::read(file, error);
        QVERIFY2(back, qPrintable(error));
        QCOMPARE(back->sheets.size(), book.sheets.size());
        for (std::size_t n = 0; n < book.sheets.size(); ++n) {
            const auto& want = book.sheets[n];
            const auto& got = back->sheets[n];
            QCOMPARE(got.name, want.name);
            QCOMPARE(got.widths, want.widths);
            QCOMPARE(got.rows.size(), want.rows.size());
            for (std::size_t r = 0; r < want.rows.size(); ++r) {
                QCOMPARE(got.rows[r].number, want.rows[r].number);
                QCOMPARE(got.rows[r].cells.size(), want.rows[r].cells.size());
                for (std::size_t c = 0; c < want.rows[r].cells.size(); ++c) {
                    const auto& a = got.rows[r].cells[c];
                    const auto& b = want.rows[r].cells[c];
                    const QByteArray where = QStringLiteral("sheet %1 %2%3")
                                                 .arg(n + 1)
                                                 .arg(rt::xlsx::column_letters(b.column))
                                                 .arg(want.rows[r].number)
                                                 .toUtf8();
                    QVERIFY2(a.column == b.column && a.value.type == b.value.type &&
                                 a.value.align == b.value.align && a.value.text == b.value.text &&
                                 a.value.number == b.value.number,
                             where.constData());
                }
            }
        }
    }

    // A cell libxlsxwriter refuses after thousands were queued fails the save, and the file that
    // was there stays as it was.
    void refused_cell_fails_the_save()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("book.xlsx"));
        QString error;
        QVERIFY2(rt::xlsx::write(make_book(1, 3), file, error), qPrintable(error));
        const QByteArray before = contents(file);

        rt::xlsx::writer w(file);
        lxw_worksheet* sheet = w.add_sheet();
        QVERIFY(sheet);
        for (int r = 0; r < 10000; ++r)
            QVERIFY(w.text(sheet, r, 0, QStringLiteral("行%1").arg(r)));
        w.number(sheet, rt::xlsx::max_rows, 0, 1); // one row beyond the sheet
        for (int r = 0; r < 10000; ++r)
            if (!w.text(sheet, rt::xlsx::max_rows - 1, r % 100, QStringLiteral("x")))
                break;
        QVERIFY(!w.commit(error));
        QVERIFY2(error.startsWith(QStringLiteral("cell A1048577")), qPrintable(error));
        QCOMPARE(contents(file), before);
    }

    // A handed-over save fails while it finishes in the background: finish() says so, and a later
    // save of the same thread does not land over the file the failed one left in place.
    void handed_over_save_that_fails()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("book.xlsx"));
        QString error;
        QVERIFY2(rt::xlsx::write(make_book(1, 3), file, error), qPrintable(error));
        const QByteArray before = contents(file);

        const rt::xlsx::handoff handoff;
        auto w = std::make_unique<rt::xlsx::writer>(file);
        lxw_worksheet* sheet = w->add_sheet();
        QVERIFY(sheet);
        w->number(sheet, rt::xlsx::max_rows, 0, 1); // refused on the writer's worker
        rt::xlsx::handoff::offer(file, make_book(1, 1), std::move(w));
        QVERIFY(!rt::xlsx::write(make_book(1, 2), file, error));
        QVERIFY2(error.startsWith(QStringLiteral("cell A1048577")), qPrintable(error));
        error.clear();
        QVERIFY(!rt::xlsx::handoff::finish(error));
        QVERIFY2(error.startsWith(QStringLiteral("cell A1048577")), qPrintable(error));
        QCOMPARE(contents(file), before);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }
};

QTEST_GUILESS_MAIN(xlsx_writer_test)
#include "xlsx_writer_test.moc"
