#pragma once

// The line that shows a file's progress on a terminal, redrawn in place: the file, how much of
// it is written, the speed and the time left, fitted to the terminal's width.

#include <QString>
#include <QStringView>

namespace qorv {

/// Width of `text` in terminal columns: East Asian wide and full-width characters (Chinese
/// among them) take two, combining marks and control characters none, the rest one.
int display_width(QStringView text);

/// Where one file of an update stands.
struct file_progress {
    qint64 count = 0;   ///< files of the version
    qint64 number = 0;  ///< this file's running number, from 1
    QString name;       ///< its name on the server
    qint64 total = -1;  ///< its size in bytes; negative when not known
    qint64 done = 0;    ///< bytes written (or found in place)
    double seconds = 0; ///< since the file began
};

/// The progress line of `p` for a terminal `columns` wide, never wider than columns - 1 (so that
/// no terminal wraps it): the running-number line, the name, a bar, the percentage, bytes done
/// of the total, the speed and the time left, or when that is too wide a short running number
/// ("3/12"), the name shortened in its middle and fewer figures. Control characters in the name
/// and invisible format characters are shown as '?'.
/// \code
/// progress_line({12, 3, "lib/a.dll", 3 << 20, 1 << 20, 0.5}, 80)
///   // "3/12 lib/a.dll  33% 1.0 MiB/3.0 MiB 2.0 MiB/s 剩余 0:01"
/// \endcode
QString progress_line(const file_progress& p, int columns);

} // namespace qorv
