// lumora's two grid exports beside a plain libxlsxwriter loop writing the same cells.
//
// usage: export_bench CASE FILE [ROWS]
//   CASE: dw_saveas_exl | uf_dwsaveas_excel | libxlsxwriter | libxlsxwriter_cm (constant memory)
// Builds a grid of ROWS rows (default 100000) x 10 columns: Chinese texts, numbers, a code table
// and a computed field (the libxlsxwriter loop writes the same cells without a grid), exports it
// and prints "CASE SECONDS PEAK_KIB BEFORE_KIB": the wall time of the export alone, the process's
// peak resident memory, and its peak before the export (the grid built).

#include <lumora/export/grid_export.h>

#include <QGuiApplication>

#include <xlsxwriter.h>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

const char* const departments[] = {"考务处", "教务处", "财务处", "人事处", "监察室"};

// The grid: nine table columns and a computed field (fee less tax).
const char* const definition =
    "release 1;\r\ntable(column=(type=char(20) name=name)\r\n"
    "column=(type=char(1) name=sex values=\"男\t1/女\t2/\")\r\n"
    "column=(type=char(20) name=dept)\r\n"
    "column=(type=long name=age)\r\n"
    "column=(type=decimal(2) name=fee)\r\n"
    "column=(type=decimal(2) name=tax)\r\n"
    "column=(type=long name=id)\r\n"
    "column=(type=char(40) name=memo)\r\n"
    "column=(type=number name=score)\r\n"
    ")\r\n"
    "text(name=name_t band=header text=\"姓名\" x=\"10\")\r\n"
    "text(name=sex_t band=header text=\"性别\" x=\"20\")\r\n"
    "text(name=dept_t band=header text=\"单位\" x=\"30\")\r\n"
    "text(name=age_t band=header text=\"年龄\" x=\"40\")\r\n"
    "text(name=fee_t band=header text=\"劳务费\" x=\"50\")\r\n"
    "text(name=tax_t band=header text=\"个税\" x=\"60\")\r\n"
    "text(name=id_t band=header text=\"编号\" x=\"70\")\r\n"
    "text(name=memo_t band=header text=\"备注\" x=\"80\")\r\n"
    "text(name=score_t band=header text=\"评分\" x=\"90\")\r\n"
    "text(name=net_t band=header text=\"实发\" x=\"100\")\r\n"
    "column(name=name x=\"10\")\r\ncolumn(name=sex x=\"20\")\r\ncolumn(name=dept x=\"30\")\r\n"
    "column(name=age x=\"40\")\r\ncolumn(name=fee x=\"50\")\r\ncolumn(name=tax x=\"60\")\r\n"
    "column(name=id x=\"70\")\r\ncolumn(name=memo x=\"80\")\r\ncolumn(name=score x=\"90\")\r\n"
    "compute(name=net band=detail x=\"100\" expression=\"fee - tax\")\r\n";

QString name_of(long k)
{
    return QStringLiteral("员工%1").arg(k);
}
QString memo_of(long k)
{
    return QStringLiteral("第%1号考场监考").arg(k % 500);
}
long fee_cents(long k)
{
    return 20000 + (k % 997) * 25;
}
long tax_cents(long k)
{
    return fee_cents(k) / 10;
}

std::unique_ptr<rt::datawindow> make_grid(long rows)
{
    auto dw = std::make_unique<rt::datawindow>();
    QString error;
    if (dw->create(QString::fromUtf8(definition), error) != 1) {
        std::fprintf(stderr, "grid: %s\n", qPrintable(error));
        std::exit(2);
    }
    const rt::decimal hundred(100);
    for (long k = 1; k <= rows; ++k) {
        dw->insertrow(0);
        dw->setitem(k, 1, name_of(k));
        dw->setitem(k, 2, k % 2 ? QStringLiteral("1") : QStringLiteral("2"));
        dw->setitem(k, 3, QString::fromUtf8(departments[k % 5]));
        dw->setitem(k, 4, rt::decimal(20 + k % 40));
        dw->setitem(k, 5, rt::decimal(fee_cents(k)) / hundred);
        dw->setitem(k, 6, rt::decimal(tax_cents(k)) / hundred);
        dw->setitem(k, 7, rt::decimal(k));
        dw->setitem(k, 8, memo_of(k));
        dw->setitem(k, 9, rt::decimal(k % 100));
    }
    return dw;
}

// The same cells written with libxlsxwriter directly: a heading row, then the ten columns; in
// constant-memory mode (rows flushed as they are done, as the exports write) or by default
// (every cell kept until the workbook is closed).
bool plain_loop(const char* file, long rows, bool constant_memory)
{
    lxw_workbook_options options{};
    options.constant_memory = constant_memory ? LXW_TRUE : LXW_FALSE;
    lxw_workbook* book = workbook_new_opt(file, &options);
    lxw_worksheet* sheet = workbook_add_worksheet(book, nullptr);
    const char* const headings[] = {"姓名", "性别", "单位", "年龄", "劳务费",
                                    "个税", "编号", "备注", "评分", "实发"};
    for (int c = 0; c < 10; ++c)
        worksheet_write_string(sheet, 0, static_cast<lxw_col_t>(c), headings[c], nullptr);
    for (long k = 1; k <= rows; ++k) {
        const auto r = static_cast<lxw_row_t>(k);
        worksheet_write_string(sheet, r, 0, name_of(k).toUtf8().constData(), nullptr);
        worksheet_write_string(sheet, r, 1, k % 2 ? "男" : "女", nullptr);
        worksheet_write_string(sheet, r, 2, departments[k % 5], nullptr);
        worksheet_write_number(sheet, r, 3, 20 + k % 40, nullptr);
        worksheet_write_number(sheet, r, 4, fee_cents(k) / 100.0, nullptr);
        worksheet_write_number(sheet, r, 5, tax_cents(k) / 100.0, nullptr);
        worksheet_write_number(sheet, r, 6, static_cast<double>(k), nullptr);
        worksheet_write_string(sheet, r, 7, memo_of(k).toUtf8().constData(), nullptr);
        worksheet_write_number(sheet, r, 8, static_cast<double>(k % 100), nullptr);
        worksheet_write_number(sheet, r, 9, (fee_cents(k) - tax_cents(k)) / 100.0, nullptr);
    }
    return workbook_close(book) == LXW_NO_ERROR;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: export_bench dw_saveas_exl|uf_dwsaveas_excel|libxlsxwriter|"
                             "libxlsxwriter_cm FILE [ROWS]\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    // Without QApplication and a handler the library's message boxes show nothing and answer OK
    // (the target does not exist, so no question is asked).
    const char* which = argv[1];
    const QString file = QString::fromLocal8Bit(argv[2]);
    const long rows = argc > 3 ? std::atol(argv[3]) : 100000;

    std::unique_ptr<rt::datawindow> grid;
    if (std::strncmp(which, "libxlsxwriter", 13) != 0)
        grid = make_grid(rows);
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    bool ok = false;
    if (std::strcmp(which, "dw_saveas_exl") == 0)
        ok = lumora::dw_saveas_exl(grid.get(), file);
    else if (std::strcmp(which, "uf_dwsaveas_excel") == 0)
        ok = lumora::uf_dwsaveas_excel(grid.get(), file) == 1;
    else if (std::strcmp(which, "libxlsxwriter") == 0)
        ok = plain_loop(argv[2], rows, false);
    else if (std::strcmp(which, "libxlsxwriter_cm") == 0)
        ok = plain_loop(argv[2], rows, true);
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    if (!ok) {
        std::fprintf(stderr, "%s failed\n", which);
        return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    // Also the peak before the export: the grid's own memory, which the exports add to.
    std::printf("%s %.3f %ld %ld\n", which, seconds.count(), usage.ru_maxrss, before.ru_maxrss);
    return 0;
}
