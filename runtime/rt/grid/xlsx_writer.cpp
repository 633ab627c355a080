// Writing .xlsx workbooks with libxlsxwriter: every cell checked, the file checked, then put in
// place by rt::file_replacement.

#include <rt/grid/xlsx.h>

#include "xlsx_cell_pipe_p.h"

#include <QByteArrayView>
#include <QFile>

#include <xlsxwriter.h>
#include <zip.h>

#include <cmath>
#include <cstring>
#include <utility>

namespace rt::xlsx {

writer::writer(const QString& path) : out_(std::make_unique<file_replacement>(path))
{
    if (!out_->ok())
        return;
    // libxlsxwriter's working files go beside the target: a full or read-only $TMPDIR does not
    // matter, and a full disk here fails the save.
    tmpdir_ = QFile::encodeName(out_->directory());
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = tmpdir_.data();
    book_ = workbook_new_opt(QFile::encodeName(out_->open_name()).constData(), &options);
    if (!book_)
        error_ = QStringLiteral("cannot start a workbook in %1").arg(out_->directory());
}

writer::~writer()
{
    // Abandoned: stop the worker, close what libxlsxwriter holds; file_replacement drops the
    // half-made file.
    pipe_.reset();
    if (book_)
        workbook_close(book_);
}

lxw_workbook* writer::book()
{
    drain();
    return book_;
}

bool writer::queue(const detail::queued_cell& cell, QStringView text)
{
    if (!pipe_)
        pipe_ = std::make_unique<detail::cell_pipe>();
    return pipe_->add(cell, text) || drain();
}

// Waits for the queued cells; false, with the reason kept, when libxlsxwriter refused one.
bool writer::drain()
{
    if (!pipe_)
        return true;
    pipe_->drain();
    if (const auto refused = pipe_->refused())
        return check(refused->code, refused->row, refused->column);
    return true;
}

lxw_worksheet* writer::add_sheet(const QString& name)
{
    if (!book_ || !drain())
        return nullptr;
    lxw_worksheet* ws =
        workbook_add_worksheet(book_, name.isEmpty() ? nullptr : name.toUtf8().constData());
    if (!ws && error_.isEmpty())
        error_ = QStringLiteral("cannot add worksheet %1").arg(name);
    return ws;
}

bool writer::check(int result, int row, int column)
{
    if (result == LXW_NO_ERROR) {
        ++cells_;
        return true;
    }
    if (error_.isEmpty())
        error_ = QStringLiteral("cell %1%2: %3")
                     .arg(column_letters(column + 1))
                     .arg(row + 1)
                     .arg(QString::fromUtf8(lxw_strerror(static_cast<lxw_error>(result))));
    return false;
}

bool writer::text(lxw_worksheet* ws, int row, int column, const QString& value, lxw_format* f)
{
    if (value.size() > max_text) {
        if (error_.isEmpty())
            error_ = QStringLiteral("cell %1%2: a text longer than %3 characters")
                         .arg(column_letters(column + 1))
                         .arg(row + 1)
                         .arg(max_text);
        return false;
    }
    if (value.isEmpty()) // libxlsxwriter writes an empty text as a blank cell
        return blank(ws, row, column, f);
    // Always a text cell: a leading "=" never turns it into a formula.
    return queue({detail::queued_cell::kind::text, row, column, ws, f}, value);
}

bool writer::number(lxw_worksheet* ws, int row, int column, double value, lxw_format* f,
                    const QString& shown)
{
    // A cell holds finite doubles only: "INF" or "NAN" would make a file no reader accepts.
    if (!std::isfinite(value))
        return text(ws, row, column, shown.isEmpty() ? number_text(value) : shown, f);
    return queue({detail::queued_cell::kind::number, row, column, ws, f, value});
}

bool writer::boolean(lxw_worksheet* ws, int row, int column, bool value, lxw_format* f)
{
    return queue({detail::queued_cell::kind::boolean, row, column, ws, f, value ? 1.0 : 0.0});
}

bool writer::blank(lxw_worksheet* ws, int row, int column, lxw_format* f)
{
    if (!f) // libxlsxwriter writes nothing for a blank without a format
        return true;
    return queue({detail::queued_cell::kind::blank, row, column, ws, f});
}

bool writer::formula(lxw_worksheet* ws, int row, int column, const QString& a1,
                     std::optional<double> result, lxw_format* f)
{
    if (!drain())
        return false;
    const QByteArray utf8 = (u'=' + a1).toUtf8();
    const auto r = static_cast<lxw_row_t>(row);
    const auto c = static_cast<lxw_col_t>(column);
    if (result && !std::isfinite(*result))
        return check(worksheet_write_formula_str(ws, r, c, utf8.constData(), f,
                                                 number_text(*result).toUtf8().constData()),
                     row, column);
    return check(worksheet_write_formula_num(ws, r, c, utf8.constData(), f, result.value_or(0)),
                 row, column);
}

bool writer::verify(QString& error) const
{
    int code = 0;
    const std::unique_ptr<zip_t, decltype(&zip_discard)> archive(
        zip_open(QFile::encodeName(out_->open_name()).constData(), ZIP_RDONLY | ZIP_CHECKCONS,
                 &code),
        &zip_discard);
    if (!archive) {
        error = QStringLiteral("the written workbook is no zip file");
        return false;
    }
    // Every part is read to its end, so that libzip checks its size and checksum; in the
    // worksheets each written cell is one "<c r=" element.
    static const QByteArray marker = QByteArrayLiteral("<c r=\"");
    long long cells = 0;
    QByteArray chunk(1 << 16, Qt::Uninitialized);
    const zip_int64_t entries = zip_get_num_entries(archive.get(), 0);
    for (zip_int64_t i = 0; i < entries; ++i) {
        const char* name = zip_get_name(archive.get(), static_cast<zip_uint64_t>(i), 0);
        std::unique_ptr<zip_file_t, decltype(&zip_fclose)> file(
            zip_fopen_index(archive.get(), static_cast<zip_uint64_t>(i), 0), &zip_fclose);
        if (!name || !file) {
            error = QStringLiteral("the written workbook is damaged");
            return false;
        }
        const bool sheet = std::strncmp(name, "xl/worksheets/sheet", 19) == 0;
        QByteArray tail; // the end of the previous chunk, for a marker split across two
        for (;;) {
            const zip_int64_t n = zip_fread(file.get(), chunk.data(), 1 << 16);
            if (n < 0) {
                error = QStringLiteral("the written workbook is damaged (%1)")
                            .arg(QString::fromUtf8(name));
                return false;
            }
            if (n == 0)
                break;
            if (!sheet)
                continue;
            const QByteArrayView data(chunk.constData(), n);
            const QByteArray joined =
                tail + data.first(std::min<qsizetype>(n, marker.size() - 1)).toByteArray();
            for (qsizetype at = joined.indexOf(marker); at >= 0;
                 at = joined.indexOf(marker, at + 1))
                ++cells;
            for (qsizetype at = data.indexOf(marker); at >= 0; at = data.indexOf(marker, at + 1))
                ++cells;
            tail = data.last(std::min<qsizetype>(n, marker.size() - 1)).toByteArray();
        }
    }
    if (cells != cells_) {
        error = QStringLiteral("the written workbook lost cells (%1 of %2 present)")
                    .arg(cells)
                    .arg(cells_);
        return false;
    }
    return true;
}

bool writer::commit(QString& error)
{
    // A save this thread handed over lands first, and a failed one stops this one. Two workbooks
    // are so never closed at once: libxlsxwriter stamps the creation time through gmtime(), whose
    // result the process shares. (The handed-over save commits on a thread without a handoff.)
    if (!handoff::finish(error))
        return false;
    if (!book_) {
        error = error_.isEmpty() ? out_->error() : error_;
        return false;
    }
    drain();
    if (pipe_)
        cells_ += pipe_->written();
    pipe_.reset();
    const lxw_error result = workbook_close(std::exchange(book_, nullptr));
    if (!error_.isEmpty()) {
        error = error_;
        return false;
    }
    if (result != LXW_NO_ERROR) {
        error = QString::fromUtf8(lxw_strerror(result));
        return false;
    }
    if (!verify(error))
        return false;
    if (!out_->commit()) {
        error = out_->error();
        return false;
    }
    return true;
}

namespace {

lxw_format* format_for(writer& w, halign align, lxw_format* (&cache)[5])
{
    if (align == halign::general)
        return nullptr;
    auto& f = cache[static_cast<int>(align)];
    if (!f) {
        f = workbook_add_format(w.book());
        format_set_align(f, align == halign::center ? LXW_ALIGN_CENTER
                            : align == halign::left ? LXW_ALIGN_LEFT
                                                    : LXW_ALIGN_RIGHT);
    }
    return f;
}

} // namespace

bool write(const workbook& book, const QString& path, QString& error)
{
    writer w(path);
    if (!w.book())
        return w.commit(error);
    lxw_format* formats[5] = {};
    for (const auto& s : book.sheets) {
        lxw_worksheet* ws = w.add_sheet(s.name);
        if (!ws)
            return w.commit(error);
        for (const auto& [column, width] : s.widths)
            if (worksheet_set_column(ws, static_cast<lxw_col_t>(column - 1),
                                     static_cast<lxw_col_t>(column - 1), width,
                                     nullptr) != LXW_NO_ERROR) {
                error =
                    QStringLiteral("cannot set the width of column %1").arg(column_letters(column));
                return false;
            }
        for (const auto& row : s.rows) {
            for (const auto& [column, x] : row.cells) {
                const int lr = row.number - 1;
                const int lc = column - 1;
                lxw_format* f = format_for(w, x.align, formats);
                bool ok = true;
                switch (x.type) {
                case cell::kind::empty:
                    if (f)
                        ok = w.blank(ws, lr, lc, f);
                    break;
                case cell::kind::number:
                    ok = w.number(ws, lr, lc, x.number, f);
                    break;
                case cell::kind::boolean:
                    ok = w.boolean(ws, lr, lc, x.number != 0, f);
                    break;
                case cell::kind::text:
                    ok = w.text(ws, lr, lc, x.text, f);
                    break;
                case cell::kind::formula:
                    ok = w.formula(ws, lr, lc, x.text,
                                   x.has_result ? std::optional(x.number) : std::nullopt, f);
                    break;
                }
                if (!ok)
                    return w.commit(error);
            }
        }
    }
    return w.commit(error);
}

} // namespace rt::xlsx
