#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>
#include <optional>

namespace rt {

/// SHA-256 over data given piece by piece (OpenSSL, which uses the processor's SHA
/// instructions where it has them).
class sha256 {
public:
    sha256();
    ~sha256();
    sha256(const sha256&) = delete;
    sha256& operator=(const sha256&) = delete;

    void add(QByteArrayView data);
    /// The digest as 64 lower-case hexadecimal digits; ends the computation.
    QString hex();

private:
    struct state;
    std::unique_ptr<state> d;
};

/// The SHA-256 of a file's contents in hexadecimal, read in pieces; std::nullopt when the file
/// cannot be read whole.
std::optional<QString> sha256_of_file(const QString& path);

} // namespace rt
