#include <lumora/export/grid_export.h>

#include "test_files.h"
#include "test_process.h"

#include <lumora/host.h>

#include <rt/grid/ole.h>
#include <rt/grid/xlsx.h>
#include <rt/ui/messagebox.h>
#include <rt/value/errors.h>

#include "recording_server.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <memory>

#include <csignal>
#include <cstdio>
#include <cstring>

#include <sys/mount.h>
#include <sys/resource.h>

using qorv::test::read_file;

namespace {

const QString title = QStringLiteral("考务管理");

// A grid definition with `columns` long columns c1..cN (cN_t labels), column 2 invisible when
// asked, and one text column "name" first.
QString wide_grid(int columns, bool second_invisible)
{
    QString table = QStringLiteral("release 1;\r\ntable(column=(type=char(20) name=name)\r\n");
    QString objects = QStringLiteral("text(name=name_t band=header text=\"=姓名\")\r\n"
                                     "column(name=name band=detail x=\"1\")\r\n");
    for (int c = 2; c <= columns; ++c) {
        table += QStringLiteral("column=(type=long name=c%1)\r\n").arg(c);
        objects += QStringLiteral("text(name=c%1_t band=header text=\"列%1\")\r\n"
                                  "column(name=c%1 band=detail x=\"%1\" visible=\"%2\")\r\n")
                       .arg(c)
                       .arg(second_invisible && c == 2 ? 0 : 1);
    }
    return table + u')' + objects;
}

// Fills the grid: row k holds "员工k" and the numbers k * c in column c.
std::unique_ptr<rt::datawindow> make_grid(const QString& definition, int rows)
{
    auto dw = std::make_unique<rt::datawindow>();
    QString error;
    if (dw->create(definition, error) != 1)
        qFatal("bad test grid: %s", qPrintable(error));
    for (int k = 1; k <= rows; ++k) {
        dw->insertrow(0);
        for (int c = 1; c <= dw->column_count(); ++c)
            dw->setitem(k, c,
                        c == 1 && !dw->columns()[0].numeric
                            ? rt::dw_value(QStringLiteral("员工%1").arg(k))
                            : rt::dw_value(rt::decimal(k * c)));
    }
    return dw;
}

// The workbook as openpyxl reads it.
QJsonObject read_back(const QString& file)
{
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral(EXPORT_TEST_DIR "/read_xlsx.py"), file});
    if (!python.waitForFinished(60000) || python.exitCode() != 0)
        qFatal("openpyxl could not read %s: %s", qPrintable(file),
               python.readAllStandardError().constData());
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

// Cell (row, column) of a read-back workbook: [value, cached, horizontal, type]; nulls when
// absent.
QJsonArray cell(const QJsonObject& book, int row, int column)
{
    for (const auto& c : book[QStringLiteral("cells")].toArray()) {
        const auto a = c.toArray();
        if (a[0].toInt() == row && a[1].toInt() == column)
            return {a[2], a[3], a[4], a[5]};
    }
    return {QJsonValue(), QJsonValue(), QJsonValue(), QJsonValue()};
}

QStringList row_values(const QJsonObject& book, int row)
{
    QStringList out;
    for (int c = 1; c <= book[QStringLiteral("max_column")].toInt(); ++c)
        out << cell(book, row, c)[0].toVariant().toString();
    return out;
}

struct message_log {
    QStringList lines;
    int answer = 1;
    message_log()
    {
        rt::set_messagebox_handler([this](const rt::message& m) {
            static const char* const icons[] = {"information", "stop", "exclamation", "question"};
            lines << m.title + u'|' + m.text + u'|' + QLatin1String(icons[int(m.icon)]) +
                         (m.buttons == rt::buttons::yes_no ? QStringLiteral("|yes_no") : QString());
            return m.buttons == rt::buttons::yes_no ? answer : 1;
        });
    }
    ~message_log() { rt::set_messagebox_handler({}); }
};

// Substitutes the automation server: records every operation and passes it to the real server
// (or fails to connect with `connect_code`, or fails at operation `fail_at`).
struct server_log {
    QStringList lines;
    int connects = 0;
    server_log(int connect_code = 0, int fail_at = 0)
    {
        rt::set_ole_factory([=, this](const QString& progid, int& code) {
            ++connects;
            if (connect_code != 0) {
                code = connect_code;
                return std::unique_ptr<rt::ole_server>();
            }
            auto inner = rt::default_ole_server(progid, code);
            return std::unique_ptr<rt::ole_server>(
                std::make_unique<qorv::test::recording_server>(std::move(inner), &lines, fail_at));
        });
    }
    ~server_log() { rt::set_ole_factory({}); }
};

// The grid of the second path: objects in another order on screen than in the definition, a code
// table, an invisible column, a column without label and one whose label has no text, a column
// in another band and a computed field.
const char* const screen_grid =
    "release 1;\n"
    "table(column=(type=char(2) name=sex values=\"男\t1/女\t2/\")\n"
    "column=(type=char(20) name=name)\n"
    "column=(type=long name=age)\n"
    "column=(type=char(10) name=hidden)\n"
    "column=(type=char(10) name=nolabel)\n"
    "column=(type=char(10) name=notext)\n"
    "column=(type=decimal(2) name=fee)\n"
    ")\n"
    "text(name=sex_t band=header text=\"性别\" x=\"300\")\n"
    "text(name=name_t band=header text=\"姓名\" x=\"20\")\n"
    "text(name=age_t band=header text=\"年龄\" x=\"200\")\n"
    "text(name=hidden_t band=header text=\"隐藏\" x=\"5\")\n"
    "text(name=notext_t band=header x=\"6\")\n"
    "text(name=fee_t band=header text=\"费用\" x=\"1\")\n"
    "text(name=double_t band=header text=\"=年龄*2\" x=\"500\")\n"
    "column(name=sex band=detail x=\"300\")\n"
    "column(name=name band=detail x=\"20\")\n"
    "column(name=age band=detail x=\"200\")\n"
    "column(name=hidden band=detail x=\"5\" visible=\"0\")\n"
    "column(name=nolabel band=detail x=\"7\")\n"
    "column(name=notext band=detail x=\"6\")\n"
    "column(name=fee band=summary x=\"1\")\n"
    "compute(name=double band=detail x=\"500\" expression=\"age * 2 + 0.5\")\n"
    "";

std::unique_ptr<rt::datawindow> make_screen_grid(int rows)
{
    auto dw = std::make_unique<rt::datawindow>();
    QString error;
    if (dw->create(QString::fromUtf8(screen_grid), error) != 1)
        qFatal("bad test grid: %s", qPrintable(error));
    const QStringList sexes{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("9")};
    for (int k = 1; k <= rows; ++k) {
        dw->insertrow(0);
        dw->setitem(k, 1, sexes[(k - 1) % 3]);
        dw->setitem(k, 2, QStringLiteral("员工%1").arg(k));
        dw->setitem(k, 3, rt::decimal(20 + k));
        dw->setitem(k, 4, QStringLiteral("h"));
    }
    return dw;
}

// Files written by this process may grow to `bytes` at most while it lives: writing beyond fails
// (EFBIG) as it would on a full disk.
class file_size_limit {
public:
    explicit file_size_limit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{bytes, saved_.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~file_size_limit()
    {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, SIG_DFL);
    }
    file_size_limit(const file_size_limit&) = delete;
    file_size_limit& operator=(const file_size_limit&) = delete;

private:
    rlimit saved_{};
};

// A host without any Qt application and without a message-box handler (a service, a command-line
// tool) exports over the existing `file`; prints the result.
int export_without_window(const char* file)
{
    auto dw = make_grid(wide_grid(3, false), 2);
    std::printf("%d\n", lumora::uf_dwsaveas_excel(dw.get(), QString::fromLocal8Bit(file)));
    return 0;
}

} // namespace

class grid_export_test : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { lumora::host::set_sys_ts(title); }

    void outcomes_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("exists");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("bad_directory");
        QTest::addColumn<int>("connect_code");
        QTest::addColumn<int>("result");
        QTest::addColumn<QStringList>("messages");

        const QString prompt = QStringLiteral("保存|%1已经存在,是否覆盖?|exclamation|yes_no");
        const QString done = title + QStringLiteral("|导出成功!|information");
        QTest::newRow("no rows")
            << 0 << false << 1 << false << 0 << -1
            << QStringList{title + QStringLiteral("|请先检索数据再导出至Excel!|information")};
        QTest::newRow("existing file, answer No")
            << 2 << true << 2 << false << 0 << -1 << QStringList{prompt};
        QTest::newRow("existing file, answer Yes")
            << 2 << true << 1 << false << 0 << 1 << QStringList{prompt, done};
        QTest::newRow("grid save fails")
            << 2 << false << 1 << true << 0 << -1
            << QStringList{title + QStringLiteral("|导出数据失败!|stop")};
        QTest::newRow("spreadsheet program missing")
            << 2 << false << 1 << false << -3 << 1
            << QStringList{title +
                           QStringLiteral("|无法连接EXCEL!是否已经安装了EXCEL?错误号：-3|stop")};
        QTest::newRow("saved") << 2 << false << 1 << false << 0 << 1 << QStringList{done};
    }

    void outcomes()
    {
        QFETCH(int, rows);
        QFETCH(bool, exists);
        QFETCH(int, answer);
        QFETCH(bool, bad_directory);
        QFETCH(int, connect_code);
        QFETCH(int, result);
        QFETCH(QStringList, messages);

        QTemporaryDir dir;
        const QString file = dir.filePath(bad_directory ? QStringLiteral("none/x.xlsx")
                                                        : QStringLiteral("导出.xlsx"));
        const QByteArray old = "an earlier file, kept byte for byte";
        if (exists) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(old);
        }
        message_log box;
        box.answer = answer;
        server_log server(connect_code);
        auto dw = make_grid(wide_grid(3, false), rows);
        QCOMPARE(lumora::uf_dwsaveas_excel(dw.get(), file), result);
        for (auto& m : messages)
            m.replace(QStringLiteral("%1"), file);
        QCOMPARE(box.lines, messages);
        QCOMPARE(server.connects, result == 1 ? 1 : 0);
        if (exists && answer != 1)
            QCOMPARE(read_file(file), old);
        if (rows == 0 || bad_directory)
            QVERIFY(!QFile::exists(file));
        if (connect_code != 0) // the grid's own save stays as it was written
            QCOMPARE(
                row_values(read_back(file), 1),
                (QStringList{QStringLiteral("name"), QStringLiteral("c2"), QStringLiteral("c3")}));
        // Nothing is left beside the target.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(),
                 QFile::exists(file) ? 1 : 0);
    }

    // One data row, the second column invisible: the operations in their order, then the workbook.
    void automation_sequence()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("seq.xlsx"));
        message_log box;
        server_log server;
        auto dw = make_grid(wide_grid(3, true), 1);
        QCOMPARE(lumora::uf_dwsaveas_excel(dw.get(), file), 1);
        const QStringList expected{
            QStringLiteral("set visible = false"),
            QStringLiteral("call application.workbooks.open(\"%1\")").arg(file),
            QStringLiteral("set cells(1, 1).value = \"=姓名\""),
            QStringLiteral("set cells(1, 2).value = \"列3\""),
            QStringLiteral("set rows(1).horizontalalignment = 3"),
            QStringLiteral("set cells(3, 1).value = \"合计\""),
            QStringLiteral("get range(\"B2:B2\").select"),
            QStringLiteral("get range(\"B3\").activate"),
            QStringLiteral("set activecell.formular1c1 = \"=SUM(R[-1]C:R[-1]C)\""),
            QStringLiteral("get range(\"C2:C2\").select"),
            QStringLiteral("get range(\"C3\").activate"),
            QStringLiteral("set activecell.formular1c1 = \"=SUM(R[-1]C:R[-1]C)\""),
            QStringLiteral("get application.workbooks(1).worksheets(1).cells.entirecolumn.autofit"),
            QStringLiteral("call application.workbooks(1).save"),
            QStringLiteral("call application.quit"),
        };
        QCOMPARE(server.lines, expected);

        const QJsonObject book = read_back(file);
        QCOMPARE(row_values(book, 1), (QStringList{QStringLiteral("=姓名"), QStringLiteral("列3"),
                                                   QStringLiteral("c3")}));
        QCOMPARE(cell(book, 1, 1)[3].toString(), QStringLiteral("s")); // a text, not a formula
        QCOMPARE(cell(book, 1, 1)[2].toString(), QStringLiteral("center"));
        QCOMPARE(cell(book, 1, 3)[2].toString(), QStringLiteral("center"));
        QCOMPARE(row_values(book, 2),
                 (QStringList{QStringLiteral("员工1"), QStringLiteral("2"), QStringLiteral("3")}));
        QCOMPARE(cell(book, 3, 1)[0].toString(), QStringLiteral("合计"));
        QCOMPARE(cell(book, 3, 2)[0].toString(), QStringLiteral("=SUM(B2:B2)"));
        QCOMPARE(cell(book, 3, 2)[3].toString(), QStringLiteral("f"));
        QCOMPARE(cell(book, 2, 2)[3].toString(), QStringLiteral("n"));
        QCOMPARE(cell(book, 3, 3)[1].toDouble(), 3.0);
    }

    // 28 columns, four rows: the totals reach AA and AB, cached results are the sums, the widths
    // follow the texts (Chinese characters count double).
    void totals_past_z()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("wide.xlsx"));
        message_log box;
        server_log server;
        auto dw = make_grid(wide_grid(28, false), 4);
        QCOMPARE(lumora::uf_dwsaveas_excel(dw.get(), file), 1);
        QVERIFY(server.lines.contains(QStringLiteral("get range(\"AB2:AB5\").select")));
        QVERIFY(server.lines.contains(QStringLiteral("get range(\"AA6\").activate")));

        const QJsonObject book = read_back(file);
        QCOMPARE(book[QStringLiteral("max_column")].toInt(), 28);
        QCOMPARE(book[QStringLiteral("max_row")].toInt(), 6);
        for (int c = 2; c <= 28; ++c) {
            const QString letters = rt::xlsx::column_letters(c);
            QCOMPARE(cell(book, 6, c)[0].toString(),
                     QStringLiteral("=SUM(%1:%2)").arg(letters + u'2', letters + u'5'));
            QCOMPARE(cell(book, 6, c)[1].toDouble(), 10.0 * c); // (1 + 2 + 3 + 4) * c
        }
        const auto widths = book[QStringLiteral("widths")].toObject();
        // "员工1" (5 units) is wider than "列2" (3 units), which is wider than "8".
        QVERIFY(widths[QStringLiteral("A")].toDouble() > widths[QStringLiteral("B")].toDouble());
        QCOMPARE(widths[QStringLiteral("A")].toDouble() - widths[QStringLiteral("B")].toDouble(),
                 2.0);
    }

    // A call that fails once the program runs ends the export with the runtime's error; the file
    // on disk is the grid's whole save and the pointer is back.
    void failing_automation_call()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("fail.xlsx"));
        message_log box;
        server_log server(0, 9); // the first formula
        auto dw = make_grid(wide_grid(3, false), 2);
        QVERIFY_THROWS_EXCEPTION(rt::runtime_error, lumora::uf_dwsaveas_excel(dw.get(), file));
        QVERIFY(box.lines.isEmpty());
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        QCOMPARE(row_values(read_back(file), 1),
                 (QStringList{QStringLiteral("name"), QStringLiteral("c2"), QStringLiteral("c3")}));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    // Nobody can answer the overwrite question: it is answered No, silently, and the file stays.
    void no_window_host()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("kept.xlsx"));
        const QByteArray old = "an earlier workbook";
        QVERIFY(qorv::test::write_file(file, old));
        const auto run = qorv::test::run_process(QCoreApplication::applicationFilePath(),
                                                 {QStringLiteral("--export-without-window"), file});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, QStringLiteral("-1\n"));
        QCOMPARE(run.err, QString());
        QCOMPARE(read_file(file), old);
    }

    // Targets that cannot be replaced: refused (a directory or a write-protected file before the
    // overwrite question), a write that fails midway (as on a full disk, here a file size limit)
    // reported; the old file stays byte for byte and nothing is left beside it.
    void unwritable_targets_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("automation");
        for (const char* kind : {"directory", "write-protected", "write fails"}) {
            QTest::addRow("%s, uf_dwsaveas_excel", kind) << QString::fromLatin1(kind) << true;
            QTest::addRow("%s, dw_saveas_exl", kind) << QString::fromLatin1(kind) << false;
        }
    }
    void unwritable_targets()
    {
        QFETCH(QString, kind);
        QFETCH(bool, automation);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("t.xlsx"));
        const QByteArray old = "an earlier workbook";
        if (kind == u"directory") {
            QVERIFY(QDir().mkdir(file));
        } else {
            QVERIFY(qorv::test::write_file(file, old));
            if (kind == u"write-protected")
                QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup |
                                                        QFile::ReadOther));
        }
        message_log box;
        server_log server;
        const bool big = kind == u"write fails";
        auto dw = big ? make_screen_grid(40000) : make_grid(wide_grid(3, false), 2);
        {
            file_size_limit limit(big ? 64 * 1024 : RLIM_INFINITY);
            if (automation)
                QCOMPARE(lumora::uf_dwsaveas_excel(dw.get(), file), -1);
            else
                QVERIFY(!lumora::dw_saveas_exl(dw.get(), file));
        }
        if (automation) {
            QStringList expected{title + QStringLiteral("|导出数据失败!|stop")};
            if (big) // refused only once the question was answered and the save tried
                expected.prepend(
                    QStringLiteral("保存|%1已经存在,是否覆盖?|exclamation|yes_no").arg(file));
            QCOMPARE(box.lines, expected);
        }
        // The grid's save finishes its file while the spreadsheet already works on the workbook:
        // a write failing there is reported once the spreadsheet's save is refused.
        QCOMPARE(server.connects, big && automation ? 1 : 0);
        if (kind != u"directory")
            QCOMPARE(read_file(file), old);
        QCOMPARE(QDir(dir.path())
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                     .size(),
                 1);
    }

    // A full $TMPDIR (a 64 KiB file system, where it can be mounted) is not where the workbook's
    // working files go: the export succeeds and the workbook is whole.
    void full_tmpdir()
    {
        QTemporaryDir dir;
        const QString small = dir.filePath(QStringLiteral("tmp"));
        QVERIFY(QDir().mkdir(small));
        if (::mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("cannot mount a small file system here");
        const bool had_tmpdir = qEnvironmentVariableIsSet("TMPDIR");
        const QByteArray saved = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(small));
        const QString file = dir.filePath(QStringLiteral("big.xlsx"));
        QVERIFY(qorv::test::write_file(file, "an earlier workbook"));
        auto dw = make_screen_grid(40000);
        const bool saved_ok = lumora::dw_saveas_exl(dw.get(), file);
        if (had_tmpdir)
            qputenv("TMPDIR", saved);
        else
            qunsetenv("TMPDIR");
        ::umount(QFile::encodeName(small).constData());
        QVERIFY(saved_ok);
        QString error;
        const auto book = rt::xlsx::read(file, error);
        QVERIFY2(book, qPrintable(error));
        QCOMPARE(book->sheets.front().row_count(), 40001);
    }

    // Decimals beyond a double's range reach the workbook as their texts, never as "INF".
    void beyond_double_range()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("big.xlsx"));
        message_log box;
        auto dw = make_grid(wide_grid(3, false), 2);
        dw->setitem(1, 2, *rt::decimal::from_text(u"1E+400"));
        dw->setitem(2, 3, *rt::decimal::from_text(u"-1E+400"));
        QCOMPARE(lumora::uf_dwsaveas_excel(dw.get(), file), 1);
        const QJsonObject book = read_back(file);      // openpyxl refuses a cell holding INF
        const QString big = u'1' + QString(400, u'0'); // the decimal's own text
        QCOMPARE(cell(book, 2, 2)[0].toString(), big);
        QCOMPARE(cell(book, 2, 2)[3].toString(), QStringLiteral("s"));
        QCOMPARE(cell(book, 3, 3)[0].toString(), u'-' + big);
        QCOMPARE(cell(book, 4, 2)[1].toDouble(), 4.0); // the total of the numbers only
    }

    void null_grid()
    {
        QVERIFY_THROWS_EXCEPTION(rt::null_object_reference,
                                 lumora::uf_dwsaveas_excel(nullptr, QStringLiteral("x.xlsx")));
        QVERIFY_THROWS_EXCEPTION(rt::null_object_reference,
                                 lumora::dw_saveas_exl(nullptr, QStringLiteral("x.xlsx")));
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    }

    void screen_export_data()
    {
        QTest::addColumn<QString>("definition");
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QList<QStringList>>("expected");

        const QStringList headings{QStringLiteral("姓名"), QStringLiteral("年龄"),
                                   QStringLiteral("性别"), QStringLiteral("=年龄*2")};
        QTest::newRow("screen order, display texts, computed field")
            << QString::fromUtf8(screen_grid) << 3 << true
            << QList<QStringList>{headings,
                                  {QStringLiteral("员工1"), QStringLiteral("21"),
                                   QStringLiteral("男"), QStringLiteral("42.5")},
                                  {QStringLiteral("员工2"), QStringLiteral("22"),
                                   QStringLiteral("女"), QStringLiteral("44.5")},
                                  {QStringLiteral("员工3"), QStringLiteral("23"),
                                   QStringLiteral("9"), QStringLiteral("46.5")}};
        QTest::newRow("zero rows: the heading row only")
            << QString::fromUtf8(screen_grid) << 0 << true << QList<QStringList>{headings};
        QTest::newRow("the last object, after the last tab")
            << QStringLiteral("release 1;table(column=(type=long name=a))"
                              "text(name=a_t text=\"甲\")column(name=a)")
            << 1 << true << QList<QStringList>{{QStringLiteral("甲")}, {QStringLiteral("1")}};
        QTest::newRow("one object, so no label")
            << QStringLiteral("release 1;table(column=(type=long name=a))column(name=a)") << 1
            << false << QList<QStringList>{};
        QTest::newRow("equal x keep the grid's order")
            << QStringLiteral("release 1;table(column=(type=long name=b)column=(type=long name=a))"
                              "text(name=a_t text=\"甲\")text(name=b_t text=\"乙\")"
                              "column(name=b x=\"5\")column(name=a x=\"5\")")
            << 1 << true
            << QList<QStringList>{{QStringLiteral("乙"), QStringLiteral("甲")},
                                  {QStringLiteral("1"), QStringLiteral("21")}};
        QTest::newRow("nothing with a heading")
            << QStringLiteral("release 1;table(column=(type=long name=a)column=(type=long name=b))"
                              "text(name=a_t)column(name=a)column(name=b)")
            << 1 << false << QList<QStringList>{};
    }

    void screen_export()
    {
        QFETCH(QString, definition);
        QFETCH(int, rows);
        QFETCH(bool, result);
        QFETCH(QList<QStringList>, expected);

        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("screen.xlsx"));
        message_log box;
        std::unique_ptr<rt::datawindow> dw;
        if (definition == QString::fromUtf8(screen_grid)) {
            dw = make_screen_grid(rows);
        } else {
            dw = std::make_unique<rt::datawindow>();
            QString error;
            QCOMPARE(dw->create(definition, error), 1);
            for (int k = 1; k <= rows; ++k) {
                dw->insertrow(0);
                for (int c = 1; c <= dw->column_count(); ++c)
                    dw->setitem(k, c, rt::decimal(c == 1 ? 1 : 21));
            }
        }
        QCOMPARE(lumora::dw_saveas_exl(dw.get(), file), result);
        QVERIFY(box.lines.isEmpty());
        QCOMPARE(QFile::exists(file), result);
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        if (!result)
            return;
        const QJsonObject book = read_back(file);
        QCOMPARE(book[QStringLiteral("max_row")].toInt(), int(expected.size()));
        for (int r = 0; r < expected.size(); ++r)
            QCOMPARE(row_values(book, r + 1), expected[r]);
        // Every cell is text: the heading "=年龄*2" is no formula, numbers are their display texts.
        for (int r = 1; r <= expected.size(); ++r)
            for (int c = 1; c <= expected[0].size(); ++c)
                QCOMPARE(cell(book, r, c)[3].toString(), QStringLiteral("s"));
    }

    // The busy pointer is shown while the rows are read, the user interface runs once per row,
    // and the normal pointer is back afterwards.
    void busy_pointer_and_yields()
    {
        QTemporaryDir dir;
        auto dw = make_screen_grid(4);
        int posted = 0;
        int delivered = 0;
        QList<int> seen; // events delivered before each row's computed field
        bool busy = true;
        dw->set_compute_function(QStringLiteral("double"), [&](const rt::datawindow&, long) {
            const QCursor* c = QGuiApplication::overrideCursor();
            busy = busy && c && c->shape() == Qt::WaitCursor;
            seen << delivered;
            ++posted;
            QMetaObject::invokeMethod(
                this, [&] { ++delivered; }, Qt::QueuedConnection);
            return rt::dw_value(QStringLiteral("x"));
        });
        QVERIFY(lumora::dw_saveas_exl(dw.get(), dir.filePath(QStringLiteral("b.xlsx"))));
        QVERIFY(busy);
        QCOMPARE(seen, (QList<int>{0, 1, 2, 3}));
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        QCoreApplication::processEvents();
        QCOMPARE(delivered, posted);
    }

    // LibreOffice recalculates the totals of an export whose stored results were removed: the
    // formulas themselves give the sums. Slow; run by the test "grid_export_recalc".
    void recalculated_totals()
    {
        if (qEnvironmentVariableIsEmpty("QORV_LIBREOFFICE"))
            QSKIP("run by grid_export_recalc");
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("totals.xlsx"));
        message_log box;
        auto dw = make_grid(wide_grid(4, false), 5);
        QCOMPARE(lumora::uf_dwsaveas_excel(dw.get(), file), 1);

        QString error;
        auto book = rt::xlsx::read(file, error);
        QVERIFY2(book, qPrintable(error));
        for (auto& row : book->sheets.front().rows)
            for (auto& [column, c] : row.cells)
                if (c.type == rt::xlsx::cell::kind::formula)
                    c.has_result = false; // stored as 0
        const QString blank = dir.filePath(QStringLiteral("blank.xlsx"));
        QVERIFY2(rt::xlsx::write(*book, blank, error), qPrintable(error));

        // A private profile in which LibreOffice always recalculates workbooks it loads.
        const QString profile = dir.filePath(QStringLiteral("profile"));
        QVERIFY(QDir().mkpath(profile + QStringLiteral("/user")));
        QFile xcu(profile + QStringLiteral("/user/registrymodifications.xcu"));
        QVERIFY(xcu.open(QIODevice::WriteOnly));
        xcu.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                  "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
                  "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
                  "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
                  "<item oor:path=\"/org.openoffice.Office.Calc/Formula/Load\"><prop "
                  "oor:name=\"OOXMLRecalcMode\" oor:op=\"fuse\"><value>0</value></prop></item>\n"
                  "</oor:items>\n"
                  "");
        xcu.close();
        QProcess office;
        office.start(QStringLiteral("soffice"),
                     {QStringLiteral("-env:UserInstallation=file://") + profile,
                      QStringLiteral("--headless"), QStringLiteral("--convert-to"),
                      QStringLiteral("csv:Text - txt - csv (StarCalc):44,34,76,1"),
                      QStringLiteral("--outdir"), dir.path(), blank});
        QVERIFY(office.waitForFinished(300000));
        QFile csv(dir.filePath(QStringLiteral("blank.csv")));
        QVERIFY2(csv.open(QIODevice::ReadOnly), office.readAllStandardError().constData());
        const QStringList lines =
            QString::fromUtf8(csv.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 7);
        // Row 7 holds 合计 and the sums (1 + ... + 5) * c of columns 2 to 4.
        QCOMPARE(lines[6].trimmed(), QStringLiteral("\"合计\",30,45,60"));
    }
};

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--export-without-window") == 0)
        return export_without_window(argv[2]);
    QApplication app(argc, argv);
    grid_export_test test;
    return QTest::qExec(&test, argc, argv);
}
#include "grid_export_test.moc"
