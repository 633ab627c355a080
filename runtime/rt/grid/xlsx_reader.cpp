// Reading .xlsx workbooks: the package opened with libzip, each XML part parsed with
// QXmlStreamReader while it is inflated.

#include <rt/grid/xlsx.h>

#include <QFile>
#include <QHash>
#include <QSet>
#include <QXmlStreamReader>

#include <zip.h>

#include <algorithm>
#include <memory>

namespace rt::xlsx {

namespace {

using zip_ptr = std::unique_ptr<zip_t, decltype(&zip_discard)>;

// What one part may inflate to: a multiple of its packed size (XML that the writers here make
// packs 5 to 20 times; a crafted part a thousand times), and never more than a fixed size. A run of
// text without markup longer than any cell's text (32,767 characters, escaped) ends the part too:
// the XML reader would hold it whole.
constexpr zip_uint64_t max_inflation = 100;
constexpr zip_uint64_t min_inflated_limit = zip_uint64_t(1) << 20;
constexpr zip_uint64_t max_inflated = zip_uint64_t(1) << 30;
constexpr qsizetype max_text_run = qsizetype(1) << 20;

// An XML part of the package, parsed while it is inflated: the whole part is never in memory.
class part_reader {
public:
    part_reader(zip_t* archive, const char* name)
        : name_(QString::fromUtf8(name)), file_(zip_fopen(archive, name, 0), &zip_fclose)
    {
        zip_stat_t status;
        zip_stat_init(&status);
        if (file_ && zip_stat(archive, name, 0, &status) == 0 &&
            (status.valid & ZIP_STAT_COMP_SIZE) != 0 && status.comp_size < max_inflated)
            limit_ = std::min(max_inflated,
                              std::max(min_inflated_limit, status.comp_size * max_inflation));
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
    bool failed() const { return xml_.hasError() || !problem_.isEmpty(); }
    /// Why the part could not be read; empty when it could.
    QString problem() const
    {
        if (!problem_.isEmpty())
            return problem_;
        return xml_.hasError()
                   ? QStringLiteral("the part %1 is damaged (%2)").arg(name_, xml_.errorString())
                   : QString();
    }
    /// Gives up on the part with `why` as the problem; next() then reaches the end.
    void stop(const QString& why)
    {
        if (problem_.isEmpty())
            problem_ = why;
        done_ = true;
        xml_.raiseError(why);
    }

private:
    void refill()
    {
        chunk_.resize(1 << 16);
        const zip_int64_t n = zip_fread(file_.get(), chunk_.data(), chunk_.size());
        if (n <= 0) {
            done_ = true;
            if (n < 0)
                problem_ = QStringLiteral("the part %1 cannot be inflated").arg(name_);
            // Lets the reader report the premature end as its final error.
            xml_.addData(QByteArray());
            return;
        }
        inflated_ += static_cast<zip_uint64_t>(n);
        if (inflated_ > limit_) {
            stop(QStringLiteral("the part %1 inflates to more than %2 bytes, beyond what its "
                                "packed size allows")
                     .arg(name_)
                     .arg(limit_));
            return;
        }
        chunk_.resize(static_cast<qsizetype>(n));
        const qsizetype first = chunk_.indexOf('<');
        const qsizetype last = chunk_.lastIndexOf('<');
        if ((first < 0 ? run_ + n : run_ + first) > max_text_run) {
            stop(QStringLiteral("the part %1 holds a text longer than a cell can").arg(name_));
            return;
        }
        run_ = first < 0 ? run_ + n : n - last - 1;
        xml_.addData(chunk_);
    }

    QString name_;
    std::unique_ptr<zip_file_t, decltype(&zip_fclose)> file_;
    QXmlStreamReader xml_;
    QByteArray chunk_;
    QString problem_;
    zip_uint64_t limit_ = max_inflated;
    zip_uint64_t inflated_ = 0;
    qsizetype run_ = 0; // bytes since the last "<"
    bool done_ = false;
};

QString too_long(const QString& where)
{
    return QStringLiteral("%1 holds a text longer than %2 characters").arg(where).arg(max_text);
}

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

std::vector<QString> read_shared_strings(zip_t* archive, QString& error)
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
            QString& text = strings.back();
            if (text.size() + p.xml().text().size() > max_text)
                p.stop(too_long(QStringLiteral("shared string %1").arg(strings.size() - 1)));
            else
                text += p.xml().text();
        }
    }
    if (p.failed())
        error = p.problem();
    return strings;
}

std::vector<halign> read_alignments(zip_t* archive, QString& error)
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
    if (p.failed())
        error = p.problem();
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
        error = p.problem();
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
                        out.widths[c] = unpadded_width(width);
            }
        } else if (t == QXmlStreamReader::Characters && text_of != in::none) {
            QString& text = text_of == in::f ? formula : value;
            if (text.size() + x.text().size() > max_text) {
                error = too_long(QStringLiteral("cell %1%2").arg(column_letters(column)).arg(row));
                return false;
            }
            text += x.text();
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
        error = p.problem();
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
    const auto strings = read_shared_strings(archive, error);
    if (!error.isEmpty())
        return std::nullopt;
    const auto aligns = read_alignments(archive, error);
    if (!error.isEmpty())
        return std::nullopt;
    workbook book;
    QSet<QString> parts;
    for (const auto& ref : refs) {
        // A part listed again would be read, and held, once per listing.
        if (parts.contains(ref.part)) {
            error = QStringLiteral("the worksheet part %1 is listed twice").arg(ref.part);
            return std::nullopt;
        }
        parts.insert(ref.part);
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

} // namespace rt::xlsx
