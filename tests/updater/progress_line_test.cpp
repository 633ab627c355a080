// The terminal progress line: its widths by display columns, and what it keeps as the terminal
// narrows.

#include "progress_line.h"

#include <QTest>

using namespace qorv;

class progress_line_test : public QObject {
    Q_OBJECT

private slots:
    void display_width_counts_columns_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::newRow("ascii") << "abc" << 3;
        QTest::newRow("chinese") << "考务" << 4;
        QTest::newRow("full-width comma and colon") << "，：" << 4;
        QTest::newRow("full-width letter") << "Ａ" << 2;
        QTest::newRow("combining accent") << QStringLiteral("e\u0301") << 1;
        QTest::newRow("tab and escape") << "\t\x1b" << 0;
        QTest::newRow("emoji beyond the basic plane") << QStringLiteral("\U0001F600") << 2;
    }
    void display_width_counts_columns()
    {
        QFETCH(QString, text);
        QFETCH(int, width);
        QCOMPARE(display_width(text), width);
    }

    void the_line_fits_the_terminal_data()
    {
        QTest::addColumn<int>("columns");
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<qint64>("done");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("expected");
        constexpr qint64 mib = 1 << 20;
        const QString dll = QStringLiteral("lib/a.dll");
        QTest::newRow("wide: everything, with a bar")
            << 160 << dll << 3 * mib << mib << 0.5
            << "共有 12 个文件需要更新，正在更新第 3 个：lib/a.dll "
               "[##########....................] 33% 1.0 MiB/3.0 MiB 2.0 MiB/s 剩余 0:01";
        QTest::newRow("80 columns: the short running number")
            << 80 << dll << 3 * mib << mib << 0.5
            << "3/12 lib/a.dll  33% 1.0 MiB/3.0 MiB 2.0 MiB/s 剩余 0:01";
        QTest::newRow("chinese name shortened in its middle")
            << 60 << "考务/成绩单.xlsx" << 3 * mib << mib << 0.5
            << "3/12 考...单.xlsx  33% 1.0 MiB/3.0 MiB 2.0 MiB/s 剩余 0:01";
        QTest::newRow("narrow: fewer figures")
            << 40 << dll << 3 * mib << mib << 0.5 << "3/12 lib/a.dll  33% 1.0 MiB/3.0 MiB";
        QTest::newRow("tiny: the number and the end of the name")
            << 12 << dll << 3 * mib << mib << 0.5 << "3/12 /a.dll";
        QTest::newRow("unknown total: bytes and speed")
            << 80 << dll << qint64(-1) << mib << 0.5
            << "共有 12 个文件需要更新，正在更新第 3 个：lib/a.dll  1.0 MiB 2.0 MiB/s";
        QTest::newRow("finished: the time it took")
            << 80 << dll << 3 * mib << 3 * mib << 1.5
            << "3/12 lib/a.dll  100% 3.0 MiB/3.0 MiB 2.0 MiB/s 用时 0:02";
        QTest::newRow("nothing yet to time") << 80 << dll << 3 * mib << qint64(0) << 0.0
                                             << "3/12 lib/a.dll  0% 0 B/3.0 MiB --/s 剩余 --:--";
        QTest::newRow("hours left") << 80 << dll << 10240 * mib << mib << 1.0
                                    << "3/12 lib/a.dll  0% 1.0 MiB/10.0 GiB 1.0 MiB/s 剩余 2:50:39";
        QTest::newRow("control characters in the name")
            << 80 << "a\x1b[2Jb.dll" << 3 * mib << mib << 0.5
            << "3/12 a?[2Jb.dll  33% 1.0 MiB/3.0 MiB 2.0 MiB/s 剩余 0:01";
    }
    void the_line_fits_the_terminal()
    {
        QFETCH(int, columns);
        QFETCH(QString, name);
        QFETCH(qint64, total);
        QFETCH(qint64, done);
        QFETCH(double, seconds);
        QFETCH(QString, expected);
        const QString line = progress_line({12, 3, name, total, done, seconds}, columns);
        QCOMPARE(line, expected);
        QVERIFY(display_width(line) < columns);
    }

    // Whatever the width, a Chinese name is never cut inside a character or made wider than
    // the terminal.
    void every_width_fits()
    {
        const QString name = QStringLiteral("考务系统/成绩单（期末）汇总表.xlsx");
        for (int columns = 1; columns <= 120; ++columns) {
            const QString line = progress_line({1200, 345, name, 5 << 20, 2 << 20, 3}, columns);
            QVERIFY2(display_width(line) < std::max(columns, 2), qPrintable(line));
            const QList<uint> points = line.toUcs4(); // a lone surrogate would not come back
            QCOMPARE(QString::fromUcs4(reinterpret_cast<const char32_t*>(points.constData()),
                                       points.size()),
                     line);
        }
    }
};

QTEST_GUILESS_MAIN(progress_line_test)
#include "progress_line_test.moc"
