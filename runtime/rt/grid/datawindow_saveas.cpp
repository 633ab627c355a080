// The grid's save-as in spreadsheet format, written row by row straight from the grid.

#include <rt/grid/datawindow_p.h>
#include <rt/grid/xlsx.h>

#include <xlsxwriter.h>

namespace rt {

int datawindow::saveas(const QString& file, saveas_type type, bool headings) const
{
    if ((type != saveas_type::excel && type != saveas_type::xlsx) || file.isEmpty())
        return -1;
    const long first = headings ? 1 : 0;
    if (d->row_count() + first > xlsx::max_rows || d->column_count() > xlsx::max_columns)
        return -1;
    xlsx::writer w(file);
    QString error;
    if (!w.book())
        return w.commit(error) ? 1 : -1;
    lxw_worksheet* ws = workbook_add_worksheet(w.book(), nullptr);
    if (!ws)
        return -1;
    QByteArray utf8;
    auto write_text = [&](lxw_row_t r, lxw_col_t c, const QString& text) {
        // Texts beyond what a cell holds fail the save rather than being cut.
        if (text.size() > xlsx::max_text)
            return false;
        utf8 = text.toUtf8();
        return worksheet_write_string(ws, r, c, utf8.constData(), nullptr) == LXW_NO_ERROR;
    };
    if (headings)
        for (int c = 0; c < d->column_count(); ++c)
            if (!write_text(0, static_cast<lxw_col_t>(c),
                            d->columns[static_cast<std::size_t>(c)].name))
                return -1;
    for (std::size_t r = 0; r < d->rows.size(); ++r) {
        const auto lr = static_cast<lxw_row_t>(static_cast<long>(r) + first);
        const auto& row = d->rows[r];
        for (std::size_t c = 0; c < row.size(); ++c) {
            const auto lc = static_cast<lxw_col_t>(c);
            if (const auto* s = std::get_if<QString>(&row[c])) {
                if (!write_text(lr, lc, *s))
                    return -1;
            } else if (const auto* number = std::get_if<decimal>(&row[c])) {
                if (worksheet_write_number(ws, lr, lc, number->to_double(), nullptr) !=
                    LXW_NO_ERROR)
                    return -1;
            }
        }
    }
    return w.commit(error) ? 1 : -1;
}

} // namespace rt
