#include "progress_line.h"

#include "human_size.h"
#include "texts.h"

#include <QList>

#include <algorithm>
#include <cmath>

namespace qorv {

namespace {

int code_point_width(char32_t c)
{
    if (c < 0x20 || (c >= 0x7f && c < 0xa0))
        return 0;
    const QChar::Category category = QChar::category(c);
    if (category == QChar::Mark_NonSpacing || category == QChar::Mark_Enclosing ||
        (c >= 0x200b && c <= 0x200f))
        return 0;
    // East Asian wide and full-width ranges.
    static constexpr char32_t wide[][2] = {
        {0x1100, 0x115f},   {0x231a, 0x231b},   {0x2329, 0x232a},   {0x2e80, 0x303e},
        {0x3041, 0x33ff},   {0x3400, 0x4dbf},   {0x4e00, 0x9fff},   {0xa000, 0xa4cf},
        {0xa960, 0xa97f},   {0xac00, 0xd7a3},   {0xf900, 0xfaff},   {0xfe10, 0xfe19},
        {0xfe30, 0xfe6f},   {0xff00, 0xff60},   {0xffe0, 0xffe6},   {0x1f300, 0x1f64f},
        {0x1f900, 0x1f9ff}, {0x20000, 0x2fffd}, {0x30000, 0x3fffd},
    };
    for (const auto& range : wide)
        if (c >= range[0] && c <= range[1])
            return 2;
    return 1;
}

/// The code points of `text`, each with its width.
QList<std::pair<char32_t, int>> code_points(QStringView text)
{
    QList<std::pair<char32_t, int>> points;
    for (const char32_t c : text.toUcs4())
        points.append({c, code_point_width(c)});
    return points;
}

QString from_points(const QList<std::pair<char32_t, int>>& points, qsizetype from, qsizetype to)
{
    QString text;
    for (qsizetype i = from; i < to; ++i)
        text += QString::fromUcs4(&points[i].first, 1);
    return text;
}

/// `name` in at most `room` columns: whole, or its start and end with "..." between (only its
/// end when there is no room for both).
QString elided(const QString& name, int room)
{
    const auto points = code_points(name);
    int width = 0;
    for (const auto& p : points)
        width += p.second;
    if (width <= room)
        return name;
    const int keep = room >= 8 ? room - 3 : room;
    // The end of a name tells most (its extension): it gets the larger half.
    int tail_room = room >= 8 ? keep - keep / 3 : keep;
    qsizetype tail = points.size();
    while (tail > 0 && points[tail - 1].second <= tail_room) {
        tail_room -= points[tail - 1].second;
        --tail;
    }
    while (tail < points.size() && points[tail].second == 0) // no mark without its letter
        ++tail;
    if (room < 8)
        return from_points(points, tail, points.size());
    int head_room = keep / 3 + tail_room;
    qsizetype head = 0;
    while (head < tail && points[head].second <= head_room) {
        head_room -= points[head].second;
        ++head;
    }
    return from_points(points, 0, head) + QStringLiteral("...") +
           from_points(points, tail, points.size());
}

QString duration(double seconds)
{
    const qint64 s = qint64(std::llround(seconds));
    if (s >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(s / 3600)
            .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

/// The figures after the name, from the most to the least telling; `level` of them (1 to 4).
QString figures(const file_progress& p, int level)
{
    const bool known = p.total >= 0;
    const bool finished = known && p.done >= p.total;
    // A rate over the first moments says little; a finished file's says what it took.
    const bool timed = p.done > 0 && (p.seconds >= 0.05 || finished);
    const double seconds = std::max(p.seconds, 0.001);
    QStringList parts;
    if (known)
        parts << QStringLiteral("%1%").arg(p.total > 0 ? p.done * 100 / p.total : 100);
    parts << (known ? human_size(p.done) + QLatin1Char('/') + human_size(p.total)
                    : human_size(p.done));
    parts << (timed ? human_size(qint64(double(p.done) / seconds)) + QStringLiteral("/s")
                    : QStringLiteral("--/s"));
    if (finished)
        parts << QStringLiteral("用时 ") + duration(p.seconds);
    else if (known)
        parts << QStringLiteral("剩余 ") +
                     (timed ? duration(double(p.total - p.done) * p.seconds / double(p.done))
                            : QStringLiteral("--:--"));
    return parts.mid(0, level).join(QLatin1Char(' '));
}

QString printable(QString name)
{
    for (QChar& c : name)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            c = QLatin1Char('?');
    return name;
}

} // namespace

int display_width(QStringView text)
{
    int width = 0;
    for (const auto& p : code_points(text))
        width += p.second;
    return width;
}

QString progress_line(const file_progress& p, int columns)
{
    const int room = std::max(columns - 1, 1);
    const QString name = printable(p.name);
    const int name_width = display_width(name);
    const QString long_head = texts::files_line(p.count, p.number);
    const QString short_head = QStringLiteral("%1/%2 ").arg(p.number).arg(p.count);
    constexpr int min_name = 10;
    constexpr int min_bar = 10, max_bar = 30;

    // Everything, with a bar in the room left over.
    const QString all = QStringLiteral("  ") + figures(p, 4);
    const int bar =
        std::min(max_bar, room - display_width(long_head) - name_width - display_width(all) - 3);
    if (bar >= min_bar && p.total > 0) {
        const int filled = int(std::min(p.done, p.total) * bar / p.total);
        return long_head + name + QStringLiteral(" [") + QString(filled, QLatin1Char('#')) +
               QString(bar - filled, QLatin1Char('.')) + QLatin1Char(']') + all.mid(1);
    }
    for (const QString& head : {long_head, short_head}) {
        for (int level = 4; level >= 1; --level) {
            const QString tail = QStringLiteral("  ") + figures(p, level);
            const int name_room = room - display_width(head) - display_width(tail);
            // The long running-number line only with every figure and the whole name.
            if (head == long_head && name_room < name_width)
                break;
            if (name_room >= std::min(name_width, min_name))
                return head + elided(name, name_room) + tail;
        }
    }
    // A terminal narrower than all that: the running number and as much of the name as fits.
    const int name_room = room - display_width(short_head);
    return name_room > 0 ? short_head + elided(name, name_room) : short_head.left(room);
}

} // namespace qorv
