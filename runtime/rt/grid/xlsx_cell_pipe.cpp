// The cell pipe between a workbook writer and libxlsxwriter's worker thread.

#include "xlsx_cell_pipe_p.h"

#include <QStringEncoder>

#include <xlsxwriter.h>

namespace rt::xlsx::detail {

namespace {

// Cells a batch gathers before the worker gets it, and batches waiting for the worker at most:
// enough to keep both threads busy, little enough to keep memory flat (a few hundred KiB).
constexpr std::size_t batch_cells = 4096;
constexpr std::size_t queued_batches = 2;

int write_cell(const queued_cell& c, const char* texts)
{
    const auto row = static_cast<lxw_row_t>(c.row);
    const auto column = static_cast<lxw_col_t>(c.column);
    switch (c.what) {
    case queued_cell::kind::text:
        return worksheet_write_string(c.sheet, row, column, texts + c.text, c.format);
    case queued_cell::kind::number:
        return worksheet_write_number(c.sheet, row, column, c.number, c.format);
    case queued_cell::kind::boolean:
        return worksheet_write_boolean(c.sheet, row, column, c.number != 0, c.format);
    case queued_cell::kind::blank:
        return worksheet_write_blank(c.sheet, row, column, c.format);
    }
    return LXW_ERROR_PARAMETER_VALIDATION;
}

} // namespace

cell_pipe::cell_pipe() : worker_([this] { work(); })
{
    filling_.cells.reserve(batch_cells);
}

cell_pipe::~cell_pipe()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        queued_.clear();
    }
    changed_.notify_all();
    worker_.join();
}

bool cell_pipe::add(queued_cell cell, QStringView text)
{
    if (cell.what == queued_cell::kind::text) {
        auto& texts = filling_.texts;
        cell.text = texts.size();
        texts.resize(cell.text + static_cast<std::size_t>(text.size()) * 3 + 1);
        QStringEncoder encode(QStringEncoder::Utf8);
        char* end = encode.appendToBuffer(texts.data() + cell.text, text);
        *end++ = '\0';
        texts.resize(static_cast<std::size_t>(end - texts.data()));
    }
    filling_.cells.push_back(cell);
    if (filling_.cells.size() < batch_cells)
        return true;
    hand_over();
    const std::lock_guard lock(mutex_);
    return !refused_;
}

void cell_pipe::hand_over()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return queued_.size() < queued_batches || refused_; });
    if (!refused_)
        queued_.push_back(std::move(filling_));
    filling_ = {};
    if (!spare_.empty()) {
        filling_ = std::move(spare_.back());
        spare_.pop_back();
    }
    filling_.cells.clear();
    filling_.texts.clear();
    filling_.cells.reserve(batch_cells);
    lock.unlock();
    changed_.notify_all();
}

void cell_pipe::drain()
{
    if (!filling_.cells.empty())
        hand_over();
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return queued_.empty() && !busy_; });
}

void cell_pipe::work()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stopping_ || !queued_.empty(); });
        if (queued_.empty())
            return; // stopping, nothing left
        batch b = std::move(queued_.front());
        queued_.pop_front();
        busy_ = true;
        lock.unlock();

        long long done = 0;
        std::optional<refused_cell> refused;
        for (const auto& c : b.cells) {
            if (const int result = write_cell(c, b.texts.data()); result != LXW_NO_ERROR) {
                refused = refused_cell{c.row, c.column, result};
                break;
            }
            ++done;
        }

        lock.lock();
        busy_ = false;
        written_ += done;
        if (refused) {
            refused_ = refused;
            queued_.clear(); // nothing after a refused cell is written
        }
        spare_.push_back(std::move(b));
        changed_.notify_all();
    }
}

} // namespace rt::xlsx::detail
