// Writing .xlsx workbooks with libxlsxwriter, beside the target and then renamed into place.

#include <rt/grid/xlsx.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <xlsxwriter.h>

#include <cstdio>
#include <utility>

namespace rt::xlsx {

writer::writer(const QString& path) : path_(path)
{
    const QFileInfo target(path);
    QTemporaryFile temp(target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                        QStringLiteral(".XXXXXX"));
    temp.setAutoRemove(false);
    if (!temp.open())
        return;
    temp_ = temp.fileName();
    temp.close();
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    book_ = workbook_new_opt(QFile::encodeName(temp_).constData(), &options);
    if (!book_)
        QFile::remove(temp_);
}

writer::~writer()
{
    if (book_) {
        // Abandoned: close what libxlsxwriter holds, then drop the half-made file.
        workbook_close(book_);
        QFile::remove(temp_);
    }
}

bool writer::commit(QString& error)
{
    if (!book_) {
        error = QStringLiteral("cannot create a file beside %1").arg(path_);
        return false;
    }
    const lxw_error result = workbook_close(std::exchange(book_, nullptr));
    if (result != LXW_NO_ERROR) {
        error = QString::fromUtf8(lxw_strerror(result));
        QFile::remove(temp_);
        return false;
    }
    // The workbook gets the permissions an existing file had, else those of a new file.
    QFile::setPermissions(temp_, QFile::exists(path_) ? QFile::permissions(path_)
                                                      : QFile::ReadOwner | QFile::WriteOwner |
                                                            QFile::ReadGroup | QFile::ReadOther);
    if (std::rename(QFile::encodeName(temp_).constData(), QFile::encodeName(path_).constData()) !=
        0) {
        error = QStringLiteral("cannot replace %1").arg(path_);
        QFile::remove(temp_);
        return false;
    }
    return true;
}

namespace {

lxw_format* format_for(lxw_workbook* book, halign align, lxw_format* (&cache)[5])
{
    if (align == halign::general)
        return nullptr;
    auto& f = cache[static_cast<int>(align)];
    if (!f) {
        f = workbook_add_format(book);
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
        lxw_worksheet* ws = workbook_add_worksheet(
            w.book(), s.name.isEmpty() ? nullptr : s.name.toUtf8().constData());
        if (!ws) {
            error = QStringLiteral("cannot add worksheet %1").arg(s.name);
            return false;
        }
        for (const auto& [column, width] : s.widths)
            worksheet_set_column(ws, static_cast<lxw_col_t>(column - 1),
                                 static_cast<lxw_col_t>(column - 1), width, nullptr);
        for (std::size_t r = 0; r < s.rows.size(); ++r) {
            const auto& row = s.rows[r];
            for (std::size_t c = 0; c < row.size(); ++c) {
                const cell& x = row[c];
                const auto lr = static_cast<lxw_row_t>(r);
                const auto lc = static_cast<lxw_col_t>(c);
                lxw_format* f = format_for(w.book(), x.align, formats);
                lxw_error e = LXW_NO_ERROR;
                switch (x.type) {
                case cell::kind::empty:
                    if (f)
                        e = worksheet_write_blank(ws, lr, lc, f);
                    break;
                case cell::kind::number:
                    e = worksheet_write_number(ws, lr, lc, x.number, f);
                    break;
                case cell::kind::boolean:
                    e = worksheet_write_boolean(ws, lr, lc, x.number != 0, f);
                    break;
                case cell::kind::text:
                    // Always a text cell: a leading "=" never turns it into a formula.
                    e = worksheet_write_string(ws, lr, lc, x.text.toUtf8().constData(), f);
                    break;
                case cell::kind::formula:
                    e = worksheet_write_formula_num(ws, lr, lc,
                                                    (u'=' + x.text).toUtf8().constData(), f,
                                                    x.has_result ? x.number : 0);
                    break;
                }
                if (e != LXW_NO_ERROR) {
                    error = QStringLiteral("cell %1%2: %3")
                                .arg(column_letters(static_cast<int>(c) + 1))
                                .arg(r + 1)
                                .arg(QString::fromUtf8(lxw_strerror(e)));
                    return false;
                }
            }
        }
    }
    return w.commit(error);
}

} // namespace rt::xlsx
