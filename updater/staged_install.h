#pragma once

#include <QByteArrayView>
#include <QFile>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace qorv {

/// The path of a file named by the update server inside `base`, or std::nullopt when the name
/// must not be written: empty, containing NUL, absolute, with a drive letter, with an empty, "."
/// or ".." component, or reaching outside `base` through a symbolic link. '/' and '\' both
/// separate directories. Directories are not created: a missing one is the caller's failure.
std::optional<QString> target_path(const QString& base, const QString& name);

/// The files of one version, installed all or nothing. Each file is written to a temporary file
/// beside its target; commit() moves them all into place, rollback() (or destruction without a
/// commit) removes them and leaves every installed file as it was.
class staged_install {
public:
    staged_install() = default;
    ~staged_install();
    staged_install(const staged_install&) = delete;
    staged_install& operator=(const staged_install&) = delete;

    /// Starts the temporary file of `target`. Fails when the target cannot be replaced (a
    /// directory, a read-only file) or its directory takes no new file.
    bool begin_file(const QString& target);
    /// Appends to the current file; false when not everything was written.
    bool write(QByteArrayView bytes);
    /// Flushes the current file to disk and closes it.
    bool end_file();

    /// Puts every finished file in place, replacing the installed ones. All or nothing: when one
    /// cannot be moved, those already moved are restored. The replaced files are kept until
    /// finish() or undo().
    bool commit();
    /// After a commit: forgets the replaced files for good.
    void finish();
    /// After a commit: restores the replaced files and removes the new ones.
    void undo();
    /// Before a commit: removes every temporary file.
    void rollback();

    qsizetype file_count() const { return static_cast<qsizetype>(files_.size()); }

private:
    struct staged_file {
        QString target;
        QString temporary;
        QString backup; // the replaced file, kept until finish()
        bool placed = false;
    };
    std::vector<staged_file> files_;
    std::unique_ptr<QFile> current_;
    bool committed_ = false;
};

} // namespace qorv
