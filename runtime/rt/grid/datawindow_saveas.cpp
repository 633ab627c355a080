// The grid's save-as in spreadsheet format, written row by row straight from the grid.

#include <rt/grid/datawindow_p.h>
#include <rt/grid/xlsx.h>

#include <cmath>
#include <memory>
#include <optional>

namespace rt {

int datawindow::saveas(const QString& file, saveas_type type, bool headings) const
{
    if ((type != saveas_type::excel && type != saveas_type::xlsx) || file.isEmpty())
        return -1;
    const long first = headings ? 1 : 0;
    if (d->row_count() + first > xlsx::max_rows || d->column_count() > xlsx::max_columns)
        return -1;
    auto w = std::make_unique<xlsx::writer>(file);
    lxw_worksheet* ws = w->add_sheet();
    if (!ws)
        return -1;
    // The workbook as written, for a spreadsheet server that opens it next (xlsx::handoff).
    std::optional<xlsx::workbook> model;
    xlsx::sheet* sheet = nullptr;
    if (xlsx::handoff::active()) {
        model.emplace();
        sheet = &model->sheets.emplace_back();
        sheet->name = QStringLiteral("Sheet1");
        sheet->rows.reserve(d->rows.size() + 1);
    }
    auto text = [&](int r, int c, const QString& value) {
        if (!w->text(ws, r, c, value))
            return false;
        if (sheet && !value.isEmpty()) {
            auto& x = sheet->make(r + 1, c + 1);
            x.type = xlsx::cell::kind::text;
            x.text = value;
        }
        return true;
    };
    if (headings)
        for (int c = 0; c < d->column_count(); ++c)
            if (!text(0, c, d->columns[static_cast<std::size_t>(c)].name))
                return -1;
    for (std::size_t r = 0; r < d->rows.size(); ++r) {
        const int sheet_row = static_cast<int>(static_cast<long>(r) + first);
        const auto& row = d->rows[r];
        for (std::size_t c = 0; c < row.size(); ++c) {
            const int column = static_cast<int>(c);
            // Texts beyond what a cell holds fail the save rather than being cut; a number
            // beyond a double's range is kept as its text.
            if (const auto* s = std::get_if<QString>(&row[c])) {
                if (!text(sheet_row, column, *s))
                    return -1;
            } else if (const auto* number = std::get_if<decimal>(&row[c])) {
                const double value = number->to_double();
                if (!std::isfinite(value)) {
                    if (!text(sheet_row, column, number->to_text()))
                        return -1;
                    continue;
                }
                if (!w->number(ws, sheet_row, column, value))
                    return -1;
                if (sheet) {
                    auto& x = sheet->make(sheet_row + 1, column + 1);
                    x.type = xlsx::cell::kind::number;
                    x.number = value;
                }
            }
        }
    }
    if (model) { // the file is finished beside the reader of the model
        xlsx::handoff::offer(file, std::move(*model), std::move(w));
        return 1;
    }
    QString error;
    return w->commit(error) ? 1 : -1;
}

} // namespace rt
