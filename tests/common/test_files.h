#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

namespace qorv::test {

/// The contents of the file `path`; an empty array when it cannot be read.
QByteArray read_file(const QString& path);

/// Writes `bytes` to the file `path`, replacing it and creating the directories above it. True
/// when every byte was written.
bool write_file(const QString& path, const QByteArray& bytes);

/// Every file below `dir`, hidden ones included, by its path relative to `dir`, with its
/// contents.
QMap<QString, QByteArray> tree_contents(const QString& dir);

} // namespace qorv::test
