// The in-process spreadsheet server: its open workbooks, selection and active cell, and the
// automation paths that reach them.

#include <rt/grid/spreadsheet_server.h>

#include <rt/grid/formula.h>

#include <QFileInfo>

#include <algorithm>

namespace rt {

struct spreadsheet_server::state {
    struct open_book {
        QString path;
        xlsx::workbook book;
    };
    struct area {
        int r1, c1, r2, c2;
    };

    bool visible = true;
    std::vector<open_book> books;
    area selection{1, 1, 1, 1};
    int active_row = 1;
    int active_column = 1;

    static QString name(const ole_path& p, std::size_t i)
    {
        return i < p.size() ? p[i].name.toLower() : QString();
    }

    static int int_arg(const ole_step& s, int index)
    {
        if (s.args.size() <= index)
            ole_refuse(s.name + QStringLiteral(" needs an argument"));
        bool ok = false;
        const int v = s.args[index].toInt(&ok);
        if (!ok)
            ole_refuse(s.name + QStringLiteral(": not a number"));
        return v;
    }

    open_book& book(int index)
    {
        if (index < 1 || static_cast<std::size_t>(index) > books.size())
            ole_refuse(QStringLiteral("no workbook %1").arg(index));
        return books[static_cast<std::size_t>(index - 1)];
    }

    QVariant invoke(ole_access access, const ole_path& p, const QVariant& value)
    {
        std::size_t i = 0;
        while (name(p, i) == u"application")
            ++i;
        const QString n = name(p, i);
        if (n == u"visible" && i + 1 == p.size()) {
            if (access == ole_access::set)
                visible = value.toBool();
            return visible;
        }
        if (n == u"quit" && i + 1 == p.size()) {
            books.clear(); // unsaved changes are dropped, as when the program ends
            return {};
        }
        if (n == u"workbooks" && p[i].args.isEmpty()) {
            const QString member = name(p, i + 1);
            if (member == u"open" && i + 2 == p.size()) {
                if (p[i + 1].args.isEmpty())
                    ole_refuse(QStringLiteral("workbooks.open needs a file"));
                open(p[i + 1].args[0].toString());
                return {};
            }
            if (member == u"count" && i + 2 == p.size())
                return static_cast<int>(books.size());
            ole_refuse(QStringLiteral("unknown member ") + ole_path_text(p));
        }
        if (n == u"workbooks" || n == u"activeworkbook") {
            open_book& b =
                n == u"workbooks" ? book(int_arg(p[i], 0)) : book(static_cast<int>(books.size()));
            const QString member = name(p, i + 1);
            if (member == u"save" && i + 2 == p.size()) {
                QString error;
                if (!xlsx::write(b.book, b.path, error))
                    ole_refuse(QStringLiteral("cannot save %1: %2").arg(b.path, error));
                return {};
            }
            if (member == u"close" && i + 2 == p.size()) {
                books.erase(books.begin() + (&b - books.data()));
                return {};
            }
            return sheet_member(access, p, i + 1, b, value);
        }
        if (books.empty())
            ole_refuse(QStringLiteral("no workbook is open for ") + ole_path_text(p));
        return sheet_member(access, p, i, books.back(), value);
    }

    void open(const QString& path)
    {
        // The grid's save just made, when it is handed over, else the file as it is.
        auto b = xlsx::handoff::take(path);
        QString error;
        if (!b)
            b = xlsx::read(path, error);
        if (!b)
            ole_refuse(error);
        books.push_back({QFileInfo(path).absoluteFilePath(), std::move(*b)});
        selection = {1, 1, 1, 1};
        active_row = active_column = 1;
    }

    QVariant sheet_member(ole_access access, const ole_path& p, std::size_t i, open_book& b,
                          const QVariant& value)
    {
        xlsx::sheet* s = b.book.sheets.empty() ? nullptr : &b.book.sheets.front();
        if (name(p, i) == u"worksheets") {
            const int index = int_arg(p[i], 0);
            if (index < 1 || static_cast<std::size_t>(index) > b.book.sheets.size())
                ole_refuse(QStringLiteral("no worksheet %1").arg(index));
            s = &b.book.sheets[static_cast<std::size_t>(index - 1)];
            ++i;
        } else if (name(p, i) == u"activesheet") {
            ++i;
        }
        if (!s)
            ole_refuse(QStringLiteral("the workbook has no worksheet"));
        const QString what = name(p, i);
        area a{};
        const auto& args = i < p.size() ? p[i].args : QVariantList();
        if (what == u"cells" && args.isEmpty()) {
            a = {1, 1, xlsx::max_rows, xlsx::max_columns};
        } else if (what == u"cells") {
            const int r = int_arg(p[i], 0);
            const int c = int_arg(p[i], 1);
            a = {r, c, r, c};
        } else if (what == u"rows") {
            const int r = int_arg(p[i], 0);
            a = {r, 1, r, xlsx::max_columns};
        } else if (what == u"columns" && args.isEmpty()) {
            a = {1, 1, xlsx::max_rows, xlsx::max_columns};
        } else if (what == u"columns") {
            const int c = int_arg(p[i], 0);
            a = {1, c, xlsx::max_rows, c};
        } else if (what == u"range") {
            if (args.isEmpty())
                ole_refuse(QStringLiteral("range needs an address"));
            a = parse_range(args[0].toString());
        } else if (what == u"activecell") {
            a = {active_row, active_column, active_row, active_column};
        } else {
            ole_refuse(QStringLiteral("unknown member ") + ole_path_text(p));
        }
        if (a.r1 < 1 || a.c1 < 1 || a.r2 > xlsx::max_rows || a.c2 > xlsx::max_columns ||
            a.r1 > a.r2 || a.c1 > a.c2)
            ole_refuse(QStringLiteral("no such cell in ") + ole_path_text(p));
        ++i;
        if (name(p, i) == u"entirecolumn") {
            a.r1 = 1;
            a.r2 = xlsx::max_rows;
            ++i;
        } else if (name(p, i) == u"entirerow") {
            a.c1 = 1;
            a.c2 = xlsx::max_columns;
            ++i;
        }
        if (i + 1 != p.size())
            ole_refuse(QStringLiteral("unknown member ") + ole_path_text(p));
        return range_member(access, name(p, i), *s, a, value, p);
    }

    static area parse_range(const QString& address)
    {
        const QStringList parts = address.split(u':');
        if (parts.size() > 2)
            ole_refuse(QStringLiteral("bad range ") + address);
        const auto a = xlsx::parse_a1(parts.front());
        const auto b = xlsx::parse_a1(parts.back());
        if (!a || !b)
            ole_refuse(QStringLiteral("bad range \"%1\"").arg(address));
        return {std::min(a->first, b->first), std::min(a->second, b->second),
                std::max(a->first, b->first), std::max(a->second, b->second)};
    }

    // Runs `f` on each cell of the area that exists or, with `create`, on every cell (bounded:
    // whole rows or columns are cut to the sheet's extent).
    template <typename F> static void each_cell(xlsx::sheet& s, const area& a, bool create, F f)
    {
        const int last_row =
            std::min<int>(a.r2, std::max<int>(s.row_count(), a.r2 == xlsx::max_rows ? 0 : a.r2));
        const int width = s.column_count();
        const int last_column = std::min(a.c2, a.c2 == xlsx::max_columns ? width : a.c2);
        if (static_cast<long long>(last_row - a.r1 + 1) * (last_column - a.c1 + 1) > 4'000'000)
            ole_refuse(QStringLiteral("range too large"));
        for (int r = a.r1; r <= last_row; ++r)
            for (int c = a.c1; c <= last_column; ++c)
                if (create)
                    f(s.make(r, c), r, c);
                else if (const xlsx::cell* x = s.at(r, c))
                    f(const_cast<xlsx::cell&>(*x), r, c);
    }

    QVariant range_member(ole_access access, const QString& member, xlsx::sheet& s, const area& a,
                          const QVariant& value, const ole_path& p)
    {
        const bool single = a.r1 == a.r2 && a.c1 == a.c2;
        if (member == u"select" || member == u"activate") {
            if (access == ole_access::set)
                ole_refuse(member + QStringLiteral(" is a method"));
            if (member == u"select") {
                selection = a;
            } else if (a.r1 < selection.r1 || a.r1 > selection.r2 || a.c1 < selection.c1 ||
                       a.c1 > selection.c2) {
                selection = a;
            }
            active_row = a.r1;
            active_column = a.c1;
            return true;
        }
        if (member == u"autofit") {
            autofit(s, a);
            return true;
        }
        if (member == u"value" || member == u"formula" || member == u"formular1c1") {
            if (access == ole_access::get) {
                if (!single)
                    ole_refuse(QStringLiteral("reading a value needs one cell"));
                return cell_value(s, a.r1, a.c1, member);
            }
            if (access != ole_access::set)
                ole_refuse(member + QStringLiteral(" is a property"));
            each_cell(s, a, true,
                      [&](xlsx::cell& x, int r, int c) { assign(s, x, r, c, value, member); });
            return {};
        }
        if (member == u"horizontalalignment") {
            if (access != ole_access::set)
                return single && s.at(a.r1, a.c1) ? static_cast<int>(s.at(a.r1, a.c1)->align) : 1;
            const xlsx::halign align = to_align(value);
            each_cell(s, a, false, [&](xlsx::cell& x, int, int) { x.align = align; });
            return {};
        }
        if (member == u"columnwidth") {
            if (access == ole_access::get)
                return s.widths.count(a.c1) ? s.widths[a.c1] : 8.43;
            bool ok = false;
            const double w = value.toDouble(&ok);
            if (!ok || w < 0 || w > 255)
                ole_refuse(QStringLiteral("bad column width"));
            for (int c = a.c1; c <= std::min(a.c2, std::max(a.c1, s.column_count())); ++c)
                s.widths[c] = w;
            return {};
        }
        ole_refuse(QStringLiteral("unknown member ") + ole_path_text(p));
    }

    static xlsx::halign to_align(const QVariant& value)
    {
        bool ok = false;
        const int v = value.toInt(&ok);
        switch (ok ? v : 0) {
        case 1:
            return xlsx::halign::general;
        case 2:
        case -4131:
            return xlsx::halign::left;
        case 3:
        case -4108:
            return xlsx::halign::center;
        case 4:
        case -4152:
            return xlsx::halign::right;
        default:
            ole_refuse(QStringLiteral("bad horizontal alignment ") + value.toString());
        }
    }

    static QVariant cell_value(const xlsx::sheet& s, int r, int c, const QString& member)
    {
        const xlsx::cell* x = s.at(r, c);
        if (!x || x->type == xlsx::cell::kind::empty)
            return {};
        switch (x->type) {
        case xlsx::cell::kind::number:
            return x->number;
        case xlsx::cell::kind::boolean:
            return x->number != 0;
        case xlsx::cell::kind::text:
            return x->text;
        case xlsx::cell::kind::formula:
            if (member == u"value")
                return x->has_result ? QVariant(x->number) : QVariant();
            return u'=' + x->text;
        default:
            return {};
        }
    }

    static void assign(const xlsx::sheet& s, xlsx::cell& x, int r, int c, const QVariant& value,
                       const QString& member)
    {
        const QString text = value.toString();
        if (member != u"value" && text.startsWith(u'=')) {
            x.type = xlsx::cell::kind::formula;
            x.text = member == u"formular1c1" ? detail::r1c1_to_a1(text, r, c).mid(1) : text.mid(1);
            const auto result = detail::compute_formula(s, x.text);
            x.has_result = result.has_value();
            x.number = result.value_or(0);
            return;
        }
        x.has_result = false;
        if (!value.isValid() || value.isNull()) {
            x.type = xlsx::cell::kind::empty;
            x.text.clear();
        } else if (value.typeId() == QMetaType::Bool) {
            x.type = xlsx::cell::kind::boolean;
            x.number = value.toBool() ? 1 : 0;
        } else if (value.typeId() == QMetaType::QString ||
                   value.typeId() == QMetaType::QByteArray) {
            // A value is never read as a formula, whatever its first character.
            if (text.size() > xlsx::max_text)
                ole_refuse(QStringLiteral("text too long for a cell"));
            x.type = xlsx::cell::kind::text;
            x.text = text;
        } else {
            bool ok = false;
            x.number = value.toDouble(&ok);
            if (!ok)
                ole_refuse(QStringLiteral("cannot store a value of type %1").arg(value.typeName()));
            x.type = xlsx::cell::kind::number;
            x.text.clear();
        }
    }

    // Width of the text a cell shows, in character units.
    static int shown_width(const xlsx::cell& x)
    {
        switch (x.type) {
        case xlsx::cell::kind::text:
            return xlsx::display_width(x.text);
        case xlsx::cell::kind::number:
            return xlsx::number_width(x.number);
        case xlsx::cell::kind::boolean:
            return x.number != 0 ? 4 : 5;
        case xlsx::cell::kind::formula:
            return x.has_result ? xlsx::number_width(x.number) : 1;
        default:
            return 0;
        }
    }

    static void autofit(xlsx::sheet& s, const area& a)
    {
        const int last = std::min(a.c2, s.column_count());
        std::vector<int> widest(static_cast<std::size_t>(std::max(0, last - a.c1 + 1)), -1);
        s.for_each_in(a.r1, a.c1, a.r2, last, [&](int, int c, const xlsx::cell& x) {
            if (x.type == xlsx::cell::kind::empty)
                return;
            int& w = widest[static_cast<std::size_t>(c - a.c1)];
            w = std::max(w, shown_width(x));
        });
        for (int c = a.c1; c <= last; ++c) {
            const int w = widest[static_cast<std::size_t>(c - a.c1)];
            // A column without content keeps its width; one character unit of margin else.
            if (w >= 0)
                s.widths[c] = std::min(255.0, w + 1.0);
        }
    }
};

spreadsheet_server::spreadsheet_server() : d(std::make_unique<state>()) {}
spreadsheet_server::~spreadsheet_server() = default;

QVariant spreadsheet_server::invoke(ole_access access, const ole_path& path, const QVariant& value)
{
    return d->invoke(access, path, value);
}

} // namespace rt
