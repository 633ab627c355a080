// Workbooks as .xlsx files: read with libzip and QXmlStreamReader, written with libxlsxwriter.

#include <rt/grid/xlsx.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QTemporaryFile>
#include <QXmlStreamReader>

#include <xlsxwriter.h>
#include <zip.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>

namespace rt::xlsx {

// ---------------------------------------------------------------------------------------------
// Addresses and widths

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

const cell* sheet::at(int row, int column) const
{
    if (row < 1 || column < 1 || static_cast<std::size_t>(row) > rows.size())
        return nullptr;
    const auto& r = rows[static_cast<std::size_t>(row - 1)];
    return static_cast<std::size_t>(column) > r.size() ? nullptr
                                                       : &r[static_cast<std::size_t>(column - 1)];
}

cell& sheet::make(int row, int column)
{
    if (rows.size() < static_cast<std::size_t>(row))
        rows.resize(static_cast<std::size_t>(row));
    auto& r = rows[static_cast<std::size_t>(row - 1)];
    if (r.size() < static_cast<std::size_t>(column))
        r.resize(static_cast<std::size_t>(column));
    return r[static_cast<std::size_t>(column - 1)];
}

int sheet::column_count() const
{
    std::size_t n = 0;
    for (const auto& r : rows)
        n = std::max(n, r.size());
    return static_cast<int>(n);
}

// ---------------------------------------------------------------------------------------------
// Reading

namespace {

using zip_ptr = std::unique_ptr<zip_t, decltype(&zip_discard)>;

// An XML part of the package, parsed while it is inflated: the whole part is never in memory.
class part_reader {
public:
    part_reader(zip_t* archive, const char* name) : file_(zip_fopen(archive, name, 0), &zip_fclose)
    {
    }
    bool exists() const { return file_ != nullptr; }

    QXmlStreamReader::TokenType next()
    {
        for (;;) {
            const auto token = xml_.readNext();
            if (xml_.error() != QXmlStreamReader::PrematureEndOfDocumentError || done_)
                return token;
            refill();
        }
    }
    QXmlStreamReader& xml() { return xml_; }
    bool failed() const { return xml_.hasError() || read_error_; }

private:
    void refill()
    {
        chunk_.resize(1 << 16);
        const zip_int64_t n = zip_fread(file_.get(), chunk_.data(), chunk_.size());
        if (n <= 0) {
            done_ = true;
            read_error_ = n < 0;
            // Lets the reader report the premature end as its final error.
            xml_.addData(QByteArray());
            return;
        }
        chunk_.resize(static_cast<qsizetype>(n));
        xml_.addData(chunk_);
    }

    std::unique_ptr<zip_file_t, decltype(&zip_fclose)> file_;
    QXmlStreamReader xml_;
    QByteArray chunk_;
    bool done_ = false;
    bool read_error_ = false;
};

bool is_start(const part_reader& p, QXmlStreamReader::TokenType t, QStringView name)
{
    return t == QXmlStreamReader::StartElement && const_cast<part_reader&>(p).xml().name() == name;
}

halign align_of(QStringView horizontal)
{
    if (horizontal == u"center" || horizontal == u"centerContinuous")
        return halign::center;
    if (horizontal == u"left")
        return halign::left;
    if (horizontal == u"right")
        return halign::right;
    return halign::general;
}

std::vector<QString> read_shared_strings(zip_t* archive)
{
    std::vector<QString> strings;
    part_reader p(archive, "xl/sharedStrings.xml");
    if (!p.exists())
        return strings;
    int phonetic = 0;
    bool in_t = false;
    for (auto t = p.next(); !p.xml().atEnd(); t = p.next()) {
        if (t == QXmlStreamReader::StartElement) {
            const auto name = p.xml().name();
            if (name == u"si")
                strings.emplace_back();
            else if (name == u"rPh")
                ++phonetic;
            else if (name == u"t")
                in_t = true;
        } else if (t == QXmlStreamReader::EndElement) {
            const auto name = p.xml().name();
            if (name == u"rPh")
                --phonetic;
            else if (name == u"t")
                in_t = false;
        } else if (t == QXmlStreamReader::Characters && in_t && phonetic == 0 && !strings.empty()) {
            strings.back() += p.xml().text();
        }
    }
    return strings;
}

std::vector<halign> read_alignments(zip_t* archive)
{
    std::vector<halign> aligns;
    part_reader p(archive, "xl/styles.xml");
    if (!p.exists())
        return aligns;
    bool in_xfs = false;
    for (auto t = p.next(); !p.xml().atEnd(); t = p.next()) {
        if (t == QXmlStreamReader::StartElement) {
            const auto name = p.xml().name();
            if (name == u"cellXfs")
                in_xfs = true;
            else if (in_xfs && name == u"xf")
                aligns.push_back(halign::general);
            else if (in_xfs && name == u"alignment" && !aligns.empty())
                aligns.back() =
                    align_of(p.xml().attributes().value(QLatin1StringView("horizontal")));
        } else if (t == QXmlStreamReader::EndElement && p.xml().name() == u"cellXfs") {
            in_xfs = false;
        }
    }
    return aligns;
}

struct sheet_ref {
    QString name;
    QString part;
};

std::vector<sheet_ref> read_sheet_list(zip_t* archive, QString& error)
{
    QHash<QString, QString> targets;
    {
        part_reader p(archive, "xl/_rels/workbook.xml.rels");
        for (auto t = p.next(); p.exists() && !p.xml().atEnd(); t = p.next()) {
            if (is_start(p, t, u"Relationship")) {
                const auto a = p.xml().attributes();
                QString target = a.value(QLatin1StringView("Target")).toString();
                target = target.startsWith(u'/') ? target.mid(1) : QStringLiteral("xl/") + target;
                targets.insert(a.value(QLatin1StringView("Id")).toString(), target);
            }
        }
    }
    std::vector<sheet_ref> sheets;
    part_reader p(archive, "xl/workbook.xml");
    if (!p.exists()) {
        error = QStringLiteral("the file has no workbook part");
        return sheets;
    }
    for (auto t = p.next(); !p.xml().atEnd(); t = p.next()) {
        if (is_start(p, t, u"sheet")) {
            const auto a = p.xml().attributes();
            QString id;
            for (const auto& attribute : a)
                if (attribute.name() == u"id") // r:id, whatever the prefix
                    id = attribute.value().toString();
            sheets.push_back(
                sheet_ref{a.value(QLatin1StringView("name")).toString(), targets.value(id)});
        }
    }
    if (p.failed())
        error = QStringLiteral("the workbook part is damaged");
    return sheets;
}

bool read_sheet(zip_t* archive, const QString& part, const std::vector<QString>& strings,
                const std::vector<halign>& aligns, sheet& out, QString& error)
{
    part_reader p(archive, part.toUtf8().constData());
    if (!p.exists()) {
        error = QStringLiteral("missing worksheet part %1").arg(part);
        return false;
    }
    int row = 0;
    int column = 0;
    QString type;
    halign align = halign::general;
    QString value;
    QString formula;
    bool have_value = false;
    bool have_formula = false;
    enum class in { none, v, f, t } text_of = in::none;
    constexpr qsizetype max_interned = 1 << 16;
    QSet<QString> texts;
    for (auto t = p.next(); !p.xml().atEnd(); t = p.next()) {
        auto& x = p.xml();
        if (t == QXmlStreamReader::StartElement) {
            const auto name = x.name();
            const auto a = x.attributes();
            if (name == u"row") {
                bool ok = false;
                const int r = a.value(QLatin1StringView("r")).toInt(&ok);
                row = ok ? r : row + 1;
                column = 0;
                if (row < 1 || row > max_rows) {
                    error = QStringLiteral("row number out of range");
                    return false;
                }
            } else if (name == u"c") {
                if (row < 1) {
                    error = QStringLiteral("a cell outside a row");
                    return false;
                }
                if (a.hasAttribute(QLatin1StringView("r"))) {
                    const auto address = parse_a1(a.value(QLatin1StringView("r")));
                    if (!address || address->first != row) {
                        error = QStringLiteral("bad cell address");
                        return false;
                    }
                    column = address->second;
                } else if (++column > max_columns) {
                    error = QStringLiteral("too many columns");
                    return false;
                }
                type = a.value(QLatin1StringView("t")).toString();
                const auto style = a.value(QLatin1StringView("s")).toULong();
                align = style < aligns.size() ? aligns[style] : halign::general;
                value.clear();
                formula.clear();
                have_value = have_formula = false;
            } else if (name == u"v") {
                text_of = in::v;
                have_value = true;
            } else if (name == u"f") {
                text_of = in::f;
                have_formula = true;
            } else if (name == u"t") {
                text_of = in::t;
                have_value = true;
            } else if (name == u"col") {
                const int min = a.value(QLatin1StringView("min")).toInt();
                const int max = a.value(QLatin1StringView("max")).toInt();
                bool ok = false;
                const double width = a.value(QLatin1StringView("width")).toDouble(&ok);
                if (ok && min >= 1 && max >= min && max <= max_columns)
                    for (int c = min; c <= max && c <= min + 255; ++c)
                        out.widths[c] = width;
            }
        } else if (t == QXmlStreamReader::Characters && text_of != in::none) {
            (text_of == in::f ? formula : value) += x.text();
        } else if (t == QXmlStreamReader::EndElement) {
            const auto name = x.name();
            if (name == u"v" || name == u"f" || name == u"t") {
                text_of = in::none;
            } else if (name == u"c") {
                if (!have_value && !have_formula && align == halign::general)
                    continue;
                cell& c = out.make(row, column);
                c.align = align;
                if (have_formula) {
                    c.type = cell::kind::formula;
                    c.text = formula;
                    bool ok = false;
                    c.number = value.toDouble(&ok);
                    c.has_result = ok;
                } else if (!have_value) {
                    c.type = cell::kind::empty;
                } else if (type == u"s") {
                    bool ok = false;
                    const auto index = value.toULong(&ok);
                    if (!ok || index >= strings.size()) {
                        error = QStringLiteral("bad shared string index");
                        return false;
                    }
                    c.type = cell::kind::text;
                    c.text = strings[index];
                } else if (type == u"inlineStr" || type == u"str" || type == u"e") {
                    c.type = cell::kind::text;
                    // Equal texts share one copy, as shared strings do: columns of codes and
                    // names repeat their texts row after row.
                    const auto known = texts.constFind(value);
                    if (known != texts.cend()) {
                        c.text = *known;
                    } else {
                        c.text = value;
                        if (texts.size() < max_interned)
                            texts.insert(c.text);
                    }
                } else if (type == u"b") {
                    c.type = cell::kind::boolean;
                    c.number = value.trimmed() == u"1" ? 1 : 0;
                } else {
                    bool ok = false;
                    c.number = value.toDouble(&ok);
                    c.type = ok ? cell::kind::number : cell::kind::empty;
                }
            }
        }
    }
    if (p.failed()) {
        error = QStringLiteral("worksheet %1 is damaged").arg(part);
        return false;
    }
    return true;
}

std::optional<workbook> read_archive(zip_t* archive, QString& error)
{
    const auto refs = read_sheet_list(archive, error);
    if (!error.isEmpty())
        return std::nullopt;
    if (refs.empty()) {
        error = QStringLiteral("the workbook has no worksheet");
        return std::nullopt;
    }
    const auto strings = read_shared_strings(archive);
    const auto aligns = read_alignments(archive);
    workbook book;
    for (const auto& ref : refs) {
        sheet s;
        s.name = ref.name;
        if (!read_sheet(archive, ref.part, strings, aligns, s, error))
            return std::nullopt;
        book.sheets.push_back(std::move(s));
    }
    return book;
}

} // namespace

std::optional<workbook> read(const QString& path, QString& error)
{
    error.clear();
    int code = 0;
    zip_ptr archive(zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &code), &zip_discard);
    if (!archive) {
        error = QStringLiteral("cannot open %1 as a workbook").arg(path);
        return std::nullopt;
    }
    return read_archive(archive.get(), error);
}

std::optional<workbook> read_bytes(const QByteArray& bytes, QString& error)
{
    error.clear();
    zip_error_t zerr;
    zip_error_init(&zerr);
    zip_source_t* source = zip_source_buffer_create(
        bytes.constData(), static_cast<zip_uint64_t>(bytes.size()), 0, &zerr);
    zip_t* raw = source ? zip_open_from_source(source, ZIP_RDONLY, &zerr) : nullptr;
    zip_error_fini(&zerr);
    if (!raw) {
        if (source)
            zip_source_free(source);
        error = QStringLiteral("not a workbook");
        return std::nullopt;
    }
    zip_ptr archive(raw, &zip_discard);
    return read_archive(archive.get(), error);
}

// ---------------------------------------------------------------------------------------------
// Writing

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
