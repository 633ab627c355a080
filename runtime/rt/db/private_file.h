#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class QTemporaryDir;

namespace rt::detail {

/// A file with the given contents that only this process reaches by name, for a driver that
/// reads its settings from a file. On Linux it is an anonymous memory file named through
/// /proc/self/fd: it never exists on disk, so neither a signal nor a crash can leave it behind.
/// Elsewhere it lives in a private temporary directory, removed with the object.
class private_file {
public:
    explicit private_file(const QByteArray& contents);
    ~private_file();
    private_file(const private_file&) = delete;
    private_file& operator=(const private_file&) = delete;

    /// Where the file is read; empty when it could not be made.
    QString path() const { return path_; }

private:
    int fd_ = -1;
    std::unique_ptr<QTemporaryDir> dir_;
    QString path_;
};

} // namespace rt::detail
