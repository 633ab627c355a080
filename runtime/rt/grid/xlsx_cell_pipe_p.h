#pragma once

// A workbook writer's cells on their way to libxlsxwriter. The calling thread encodes them into
// batches; a worker thread hands them to libxlsxwriter, which turns each into XML. Reading a grid
// and formatting its XML so run side by side, while the cells still reach the sheet in the order
// they were given.

#include <QStringView>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

struct lxw_worksheet;
struct lxw_format;

namespace rt::xlsx::detail {

/// One cell as the worker writes it.
struct queued_cell {
    enum class kind : std::uint8_t { text, number, boolean, blank };
    kind what = kind::blank;
    int row = 0; ///< 0-based, as libxlsxwriter counts
    int column = 0;
    lxw_worksheet* sheet = nullptr;
    lxw_format* format = nullptr;
    double number = 0;    ///< number; boolean as 0 or 1
    std::size_t text = 0; ///< text: offset of its NUL-terminated UTF-8 in the batch
};

/// The first cell libxlsxwriter refused, and its lxw_error.
struct refused_cell {
    int row;
    int column;
    int code;
};

class cell_pipe {
public:
    cell_pipe();
    /// Stops the worker; cells not yet written are dropped.
    ~cell_pipe();
    cell_pipe(const cell_pipe&) = delete;
    cell_pipe& operator=(const cell_pipe&) = delete;

    /// Queues a cell (for a text, `text` is encoded now). False once a cell was refused: the
    /// cells after it are not written.
    bool add(queued_cell cell, QStringView text = {});
    /// Waits until every queued cell is written; then libxlsxwriter may be used directly.
    void drain();
    /// After drain(): the cells written, and the one refused, if any.
    long long written() const { return written_; }
    std::optional<refused_cell> refused() const { return refused_; }

private:
    struct batch {
        std::vector<queued_cell> cells;
        std::vector<char> texts;
    };
    void hand_over();
    void work();

    batch filling_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<batch> queued_;            // guarded by mutex_
    std::vector<batch> spare_;            // emptied batches for reuse; guarded by mutex_
    bool busy_ = false;                   // guarded by mutex_
    bool stopping_ = false;               // guarded by mutex_
    long long written_ = 0;               // guarded by mutex_
    std::optional<refused_cell> refused_; // guarded by mutex_
    std::thread worker_;
};

} // namespace rt::xlsx::detail
