// The workbook reader on hostile files: each is read in a child process whose peak memory is
// measured, so that a file cannot make the reader use more than a small bound.

#include "test_process.h"

#include <rt/grid/xlsx.h>

#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include <zip.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace {

using parts = std::vector<std::pair<const char*, QByteArray>>;

// An .xlsx package of `sheet` (and the shared strings `strings` when not empty) listed in the
// workbook part `book`, deflated.
bool write_package(const QString& path, const QByteArray& sheet, const QByteArray& strings = {},
                   const QByteArray& book = "<workbook xmlns:r=\"r\"><sheets><sheet name=\"S\" "
                                            "r:id=\"rId1\"/></sheets></workbook>")
{
    parts p{{"xl/workbook.xml", book},
            {"xl/_rels/workbook.xml.rels",
             "<Relationships><Relationship Id=\"rId1\" Target=\"worksheets/sheet1.xml\"/>"
             "</Relationships>"},
            {"xl/worksheets/sheet1.xml", sheet}};
    if (!strings.isEmpty())
        p.emplace_back("xl/sharedStrings.xml", strings);
    int code = 0;
    zip_t* archive = zip_open(path.toLocal8Bit().constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!archive)
        return false;
    for (const auto& [name, bytes] : p) {
        zip_source_t* source = zip_source_buffer(archive, bytes.constData(),
                                                 static_cast<zip_uint64_t>(bytes.size()), 0);
        if (!source || zip_file_add(archive, name, source, 0) < 0) {
            zip_source_free(source);
            zip_discard(archive);
            return false;
        }
    }
    return zip_close(archive) == 0;
}

QByteArray sheet_of(const QByteArray& rows)
{
    return "<worksheet><sheetData>" + rows + "</sheetData></worksheet>";
}

// A line of /proc/self/status in KiB ("VmRSS", "VmHWM").
long status_kib(const char* key)
{
    long kib = -1;
    if (std::FILE* f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        const std::size_t n = std::strlen(key);
        while (std::fgets(line, sizeof line, f))
            if (std::strncmp(line, key, n) == 0 && line[n] == ':')
                kib = std::atol(line + n + 1);
        std::fclose(f);
    }
    return kib;
}

// Child mode: reads FILE, prints "ok CELLS" or "error TEXT", then the peak resident memory the
// reading added, in KiB. The peak of this process alone (not getrusage's, which keeps the
// parent's size from before exec) is set back to the present use first (5 in clear_refs).
int read_in_child(const char* file)
{
    if (std::FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
    const long base = status_kib("VmRSS");
    QString error;
    const auto book = rt::xlsx::read(QString::fromLocal8Bit(file), error);
    const long peak = status_kib("VmHWM");
    if (book) {
        std::size_t cells = 0;
        for (const auto& row : book->sheets.front().rows)
            cells += row.cells.size();
        std::printf("ok %zu\n", cells);
    } else {
        std::printf("error %s\n", error.toUtf8().constData());
    }
    std::printf("%ld\n", peak - base);
    return 0;
}

} // namespace

class xlsx_reader_test : public QObject {
    Q_OBJECT

private slots:
    void hostile_files_data()
    {
        QTest::addColumn<std::function<bool(const QString&)>>("make");
        QTest::addColumn<QString>("outcome"); // "ok N" or a part of the error
        QTest::addRow("a cell at XFD in each of 1,000 rows") << std::function([](const QString& f) {
            QByteArray rows;
            for (int r = 1; r <= 1000; ++r)
                rows += "<row r=\"" + QByteArray::number(r) + "\"><c r=\"XFD" +
                        QByteArray::number(r) + "\"><v>1</v></c></row>";
            return write_package(f, sheet_of(rows));
        }) << "ok 1000";
        QTest::addRow("4 million empty shared strings") << std::function([](const QString& f) {
            return write_package(f, sheet_of({}),
                                 "<sst>" + QByteArray("<si><t></t></si>").repeated(4'000'000) +
                                     "</sst>");
        }) << "inflates";
        QTest::addRow("a shared string of 20 million characters")
            << std::function([](const QString& f) {
                   return write_package(f, sheet_of({}),
                                        "<sst><si><t>" + QByteArray(20'000'000, 'a') +
                                            "</t></si></sst>");
               })
            << "longer than a cell";
        QTest::addRow("256 MiB of blanks") << std::function([](const QString& f) {
            return write_package(f, sheet_of(QByteArray(256 << 20, ' ')));
        }) << "longer than a cell";
        QTest::addRow("a cell text of 40,000 characters") << std::function([](const QString& f) {
            return write_package(f, sheet_of("<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>" +
                                             QByteArray(40000, 'x') + "</t></is></c></row>"));
        }) << "32767";
        QTest::addRow("a shared string of 40,000 characters")
            << std::function([](const QString& f) {
                   return write_package(f, sheet_of({}),
                                        "<sst><si><t>" + QByteArray(40000, 'x') +
                                            "</t></si></sst>");
               })
            << "32767";
        QTest::addRow("one part listed as 1,000 sheets") << std::function([](const QString& f) {
            QByteArray sheets;
            for (int i = 0; i < 1000; ++i)
                sheets += "<sheet name=\"S" + QByteArray::number(i) + "\" r:id=\"rId1\"/>";
            QByteArray rows;
            for (int r = 1; r <= 1000; ++r)
                rows += "<row r=\"" + QByteArray::number(r) + "\"><c><v>1</v></c></row>";
            return write_package(f, sheet_of(rows), {},
                                 "<workbook xmlns:r=\"r\"><sheets>" + sheets +
                                     "</sheets></workbook>");
        }) << "listed twice";
        QTest::addRow("row 1,048,577") << std::function([](const QString& f) {
            return write_package(f, sheet_of("<row r=\"1048577\"><c><v>1</v></c></row>"));
        }) << "row number";
        QTest::addRow("one cell at the last row and column") << std::function([](const QString& f) {
            return write_package(f, sheet_of("<row r=\"1048576\"><c r=\"XFD1048576\"><v>1</v></c>"
                                             "</row>"));
        }) << "ok 1";
    }
    void hostile_files()
    {
        QFETCH(std::function<bool(const QString&)>, make);
        QFETCH(QString, outcome);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("hostile.xlsx"));
        QVERIFY(make(file));
        // The sanitizers' quarantine would hold freed memory and blur the peak.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ASAN_OPTIONS"),
                   env.value(QStringLiteral("ASAN_OPTIONS")) +
                       QStringLiteral(":quarantine_size_mb=1:thread_local_quarantine_size_kb=64"));
        const auto run = qorv::test::run_process(QCoreApplication::applicationFilePath(),
                                                 {QStringLiteral("--read"), file}, {}, env);
        QVERIFY2(run.status == 0, qPrintable(run.err));
        const QStringList lines = run.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        if (outcome.startsWith(QStringLiteral("ok ")))
            QCOMPARE(lines[0], outcome);
        else
            QVERIFY2(lines[0].startsWith(QStringLiteral("error ")) && lines[0].contains(outcome),
                     qPrintable(lines[0]));
        const long added_kib = lines[1].toLong();
        qInfo("%s; reading added %ld KiB", qPrintable(lines[0]), added_kib);
        QVERIFY2(added_kib < 48 * 1024, qPrintable(QStringLiteral("%1 KiB").arg(added_kib)));
    }
};

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--read") == 0)
        return read_in_child(argv[2]);
    QCoreApplication app(argc, argv);
    xlsx_reader_test test;
    return QTest::qExec(&test, argc, argv);
}

#include "xlsx_reader_test.moc"
