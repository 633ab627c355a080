// libFuzzer target for the grid's definition texts (rt::datawindow::create): any text either
// makes a grid or is refused with an error text, and a grid made from it answers describe and
// evaluate for its columns and objects.

#include <rt/grid/datawindow.h>

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    rt::datawindow dw;
    QString error;
    const int result = dw.create(text, error);
    if ((result == 1) != error.isEmpty() || (result != 1 && result != -1))
        std::abort();
    if (result != 1)
        return 0;
    dw.insertrow(0);
    dw.setitem(1, 1, QStringLiteral("1"));
    for (const auto& o : dw.objects()) {
        (void)dw.describe(QString(o.name + QStringLiteral(".x")));
        (void)dw.describe(QString(QStringLiteral("evaluate('") + o.name + QStringLiteral("', 1)")));
    }
    for (int c = 1; c <= dw.column_count(); ++c)
        (void)dw.lookup_display(1, c);
    return 0;
}
