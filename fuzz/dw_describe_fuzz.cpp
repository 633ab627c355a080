// libFuzzer target for describe paths and the expressions of evaluate() on a fixed grid: every
// path gets a text answer, and the answer does not depend on how often it is asked (the compiled
// expressions are cached).

#include <rt/grid/datawindow.h>

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

rt::datawindow& grid()
{
    static rt::datawindow* dw = [] {
        auto* g = new rt::datawindow;
        QString error;
        const int ok =
            g->create(QString::fromUtf8(
                          "release 1;table(column=(type=char(10) name=sex values=\"男\t1/女\t2/\")"
                          "column=(type=long name=age)column=(type=decimal(2) name=fee))"
                          "text(name=sex_t text=\"性别\")column(name=sex x=\"5\")"
                          "column(name=age visible=\"0\")"
                          "compute(name=total expression=\"fee * 2 + age\")"
                          "compute(name=loop expression=\"loop + 1\")"),
                      error);
        if (ok != 1)
            std::abort();
        for (int r = 1; r <= 2; ++r) {
            g->insertrow(0);
            g->setitem(r, 1, QString::number(r));
            g->setitem(r, 2, QString::number(20 + r));
            g->setitem(r, 3, QStringLiteral("1.25"));
        }
        return g;
    }();
    return *dw;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString path =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString first = grid().describe(path);
    if (grid().describe(path) != first)
        std::abort();
    return 0;
}
