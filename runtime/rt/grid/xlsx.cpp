// The workbook model: cell addresses, display widths and the cells of a sheet.

#include <rt/grid/xlsx.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <utility>

namespace rt::xlsx {

QString column_letters(int column)
{
    QString letters;
    while (column > 0) {
        const int digit = (column - 1) % 26;
        letters.prepend(QChar(u'A' + digit));
        column = (column - 1) / 26;
    }
    return letters;
}

std::optional<std::pair<int, int>> parse_a1(QStringView address)
{
    qsizetype i = 0;
    if (i < address.size() && address[i] == u'$')
        ++i;
    long column = 0;
    const qsizetype letters = i;
    while (i < address.size() && address[i].isLetter() && address[i].unicode() < 128 &&
           i - letters < 3) {
        column = column * 26 + (address[i].toUpper().unicode() - u'A' + 1);
        ++i;
    }
    if (i == letters)
        return std::nullopt;
    if (i < address.size() && address[i] == u'$')
        ++i;
    const qsizetype digits = i;
    long row = 0;
    while (i < address.size() && address[i] >= u'0' && address[i] <= u'9' && i - digits < 8) {
        row = row * 10 + (address[i].unicode() - u'0');
        ++i;
    }
    if (i == digits || i != address.size() || address[digits] == u'0' || row > max_rows ||
        column > max_columns)
        return std::nullopt;
    return std::pair{static_cast<int>(row), static_cast<int>(column)};
}

int display_width(QStringView text)
{
    int width = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        // The East Asian wide and full-width ranges: CJK, kana, Hangul, full-width forms.
        const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                          (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                          (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                          (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
        width += wide ? 2 : 1;
    }
    return width;
}

QString number_text(double value)
{
    if (!std::isfinite(value))
        return QStringLiteral("#NUM!");
    // The general format shows up to eleven characters of significant digits.
    return QString::number(value, 'g', 11);
}

double unpadded_width(double stored)
{
    const double pixels = std::round(stored * 7);
    return pixels <= 12 ? pixels / 12 : (pixels - 5) / 7;
}

int number_width(double value)
{
    if (!std::isfinite(value))
        return 5;
    // The length of number_text(value), without making the text.
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 11);
    return result.ec == std::errc() ? static_cast<int>(result.ptr - buffer)
                                    : static_cast<int>(number_text(value).size());
}

namespace {

template <typename Rows> auto find_row(Rows& rows, int number)
{
    return std::lower_bound(rows.begin(), rows.end(), number,
                            [](const auto& r, int n) { return r.number < n; });
}

template <typename Cells> auto find_cell(Cells& cells, int column)
{
    return std::lower_bound(cells.begin(), cells.end(), column,
                            [](const auto& e, int c) { return e.column < c; });
}

} // namespace

const cell* sheet::at(int row, int column) const
{
    const auto r = find_row(rows, row);
    if (r == rows.end() || r->number != row)
        return nullptr;
    const auto c = find_cell(r->cells, column);
    return c == r->cells.end() || c->column != column ? nullptr : &c->value;
}

cell& sheet::make(int row, int column)
{
    auto r = !rows.empty() && rows.back().number == row ? rows.end() - 1 : find_row(rows, row);
    if (r == rows.end() || r->number != row)
        r = rows.insert(r, stored_row{row, {}});
    auto& cells = r->cells;
    if (cells.empty() || cells.back().column < column)
        return cells.emplace_back(entry{column, {}}).value;
    auto c = find_cell(cells, column);
    if (c == cells.end() || c->column != column)
        c = cells.insert(c, entry{column, {}});
    return c->value;
}

int sheet::row_count() const
{
    return rows.empty() ? 0 : rows.back().number;
}

int sheet::column_count() const
{
    int n = 0;
    for (const auto& r : rows)
        if (!r.cells.empty())
            n = std::max(n, r.cells.back().column);
    return n;
}

} // namespace rt::xlsx
