// A save's workbook handed to the next reader of the file while the save finishes beside it.

#include <rt/grid/xlsx.h>

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

#include <chrono>
#include <future>
#include <utility>

namespace rt::xlsx {

namespace {

thread_local handoff* current_handoff = nullptr;

// What identifies a file's contents without reading them: the file, its size and modification.
struct identity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    timespec modified{};
    bool operator==(const identity& o) const
    {
        return device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec;
    }
};

std::optional<identity> identify(const QString& path)
{
    struct stat s {};
    if (::stat(QFile::encodeName(path).constData(), &s) != 0)
        return std::nullopt;
    return identity{s.st_dev, s.st_ino, s.st_size, s.st_mtim};
}

// How a save in the background ended: the file as it landed, or why it did not.
struct outcome {
    std::optional<identity> file;
    QString error;
};

} // namespace

struct handoff::offered {
    QString path; // absolute
    std::optional<workbook> book;
    std::future<outcome> saving;
    std::optional<identity> file; // the offered save's file, once it landed
    QString error;                // the first save that failed
};

handoff::handoff() : d(std::make_unique<offered>()), previous_(current_handoff)
{
    current_handoff = this;
}

handoff::~handoff()
{
    settle();
    current_handoff = previous_;
}

bool handoff::active()
{
    return current_handoff != nullptr;
}

bool handoff::settle()
{
    if (d->saving.valid()) {
        outcome o = d->saving.get();
        d->file = std::move(o.file);
        if (d->error.isEmpty())
            d->error = std::move(o.error);
    }
    return d->error.isEmpty();
}

void handoff::offer(const QString& path, workbook book, std::unique_ptr<writer> w)
{
    Q_ASSERT(current_handoff);
    auto& h = *current_handoff;
    h.settle(); // one save at a time lands on a file, in the order they were made
    h.d->path = QFileInfo(path).absoluteFilePath();
    h.d->book = std::move(book);
    h.d->file.reset();
    h.d->saving = std::async(std::launch::async, [w = std::move(w), path]() mutable {
        outcome o;
        if (w->commit(o.error))
            o.file = identify(path);
        else if (o.error.isEmpty())
            o.error = QStringLiteral("cannot save %1").arg(path);
        w.reset(); // a failed save's temporary file is gone before finish() returns
        return o;
    });
}

std::optional<workbook> handoff::take(const QString& path)
{
    if (!current_handoff || !current_handoff->d->book)
        return std::nullopt;
    auto& h = *current_handoff;
    if (QFileInfo(path).absoluteFilePath() != h.d->path)
        return std::nullopt;
    // While the save is finishing, its rename is still to come and puts the written file in place
    // whatever is there now; once it has landed, the file may have been changed since.
    const bool finishing = h.d->saving.valid() && h.d->saving.wait_for(std::chrono::seconds(0)) !=
                                                      std::future_status::ready;
    if (!finishing) {
        h.settle();
        if (!h.d->file || !(identify(path) == *h.d->file))
            return std::nullopt;
    }
    return std::exchange(h.d->book, std::nullopt);
}

bool handoff::finish(QString& error)
{
    if (!current_handoff || current_handoff->settle())
        return true;
    error = current_handoff->d->error;
    return false;
}

} // namespace rt::xlsx
