// Uses the C++ services and the C ABI of the installed library; exits 0 when every answer is
// right and the library was taken from the installed prefix given as the first argument.
#include <lumora/lumora.h>
#include <lumora/lumora_c.h>

#include <rt/grid/datawindow.h>
#include <rt/value/decimal.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int failures = 0;

void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "wrong: %s\n", what);
        ++failures;
    }
}

} // namespace

int main(int argc, char** argv)
{
    const lumora::u_orlen_fun fun;
    check(fun.decto(rt::decimal(255), 16) == QStringLiteral("FF"), "decto(255, 16)");
    check(fun.todec(QStringLiteral("1.1"), rt::decimal(2)) == *rt::decimal::from_text(u"1.5"),
          "todec(1.1, 2)");
    check(fun.hexencode(QString::fromUtf8("中"), lumora::encoding::ansi) == QStringLiteral("D6D0"),
          "hexencode ANSI");

    QString digest;
    lumora::u_orlen_md5().uf_md5string(QStringLiteral("abc"), digest);
    check(digest == QStringLiteral("900150983CD24FB0D6963F7D28E17F72"), "md5 of abc");

    char* cell = wf_wps_cell(28, 3);
    check(cell && std::strcmp(cell, "AB3") == 0, "wf_wps_cell through the C ABI");
    lumora_free(cell);

    // The data grid the export functions take, carried and exported by the library.
    rt::datastore grid;
    QString error;
    check(grid.create(QStringLiteral("release 1;\ntable(column=(type=long name=age))"), error) == 1,
          "datawindow created from a definition");
    check(grid.insertrow(0) == 1 && grid.setitem(1, QStringLiteral("age"), rt::decimal(41)) == 1,
          "datawindow row set");
    check(grid.rowcount() == 1 && grid.column_count() == 1 && grid.columns().front().numeric &&
              grid.evaluate(u"age + 1", 1) == QStringLiteral("42"),
          "datawindow evaluated");

    // The library in use is the installed one.
    Dl_info info{};
    check(dladdr(reinterpret_cast<void*>(&lumora_free), &info) != 0 && argc > 1 &&
              std::string(info.dli_fname).rfind(argv[1], 0) == 0,
          "liblumora.so loaded from the installed prefix");

    std::printf("%s\n", failures ? "consumer: FAILED" : "consumer: ok");
    return failures ? 1 : 0;
}
