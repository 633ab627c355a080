// libFuzzer target for the workbook reader (rt::xlsx::read_bytes): damaged packages, XML and cell
// addresses are refused with an error text; whatever is read stays within the sheet's limits.

#include <rt/grid/xlsx.h>

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QString error;
    const auto book = rt::xlsx::read_bytes(bytes, error);
    if (book.has_value() == !error.isEmpty())
        std::abort();
    if (!book)
        return 0;
    for (const auto& sheet : book->sheets) {
        if (sheet.row_count() > rt::xlsx::max_rows || sheet.column_count() > rt::xlsx::max_columns)
            std::abort();
        for (const auto& row : sheet.rows)
            for (const auto& [column, cell] : row.cells)
                if (cell.text.size() > rt::xlsx::max_text)
                    std::abort();
    }
    return 0;
}
