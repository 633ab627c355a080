#pragma once

// The manifest of a release: what a publisher signs and an updater checks the served files
// against. One canonical text per release, shared by qorv_admin and qorv_update.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace qorv::release {

/// The table that holds one signed manifest per version (beside t_file), and its columns.
inline const QString record_table = QStringLiteral("t_release");

/// One file of a release.
struct manifest_file {
    QString name; ///< as in t_file.filename
    std::int64_t size = 0;
    QString sha256; ///< 64 lower-case hexadecimal digits
    bool operator==(const manifest_file&) const = default;
};

/// The version and every file of a release, in the order the updater installs them (the order
/// in which the server lists the version's file names).
///
/// Its canonical text, UTF-8, each line ending in a line feed:
/// \code
/// qorv release manifest 1
/// version 2.5
/// files 2
/// 5 2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824 hello.txt
/// 0 e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855 lib/empty.dat
/// \endcode
/// A file line holds the size in decimal, the SHA-256 and the name (the rest of the line).
struct manifest {
    QString version; ///< as qorv_admin normalises it ("2.5", "3.0")
    std::vector<manifest_file> files;

    /// The canonical text, which is what is signed.
    QByteArray text() const;
    /// The manifest of a canonical text; std::nullopt, with the reason in `why`, for anything
    /// else: another spelling, a missing or extra line, a name with a control character, an
    /// upper-case or short hash.
    static std::optional<manifest> parse(QByteArrayView text, QString* why = nullptr);
    /// The reason `name` cannot be listed (empty, or holding a control character), or an empty
    /// text.
    static QString name_problem(const QString& name);
};

} // namespace qorv::release
