#pragma once

// Durable writes on the platform's file system: what must be on disk before the next step of an
// install. One implementation per platform (file_sync_unix.cpp).

#include <QByteArray>
#include <QFile>
#include <QString>

#include <filesystem>

namespace qorv {

/// `path` in the form the platform's std::filesystem takes.
std::filesystem::path native_path(const QString& path);

/// Flushes the data of the open `file` to disk (its contents, not every attribute). False when
/// that failed.
bool sync_data(QFile& file);

/// Starts writing bytes [from, from + length) of the open `file` to disk and returns at once, so
/// that a later sync_data() has little left to wait for. Nothing happens where the platform
/// cannot; sync_data() alone makes the data durable either way.
void start_writeback(QFile& file, qint64 from, qint64 length);

/// Makes the directory entries below `dir` durable (a rename is only durable with its
/// directory). Failure is not reported: the system writes the entries back a moment later
/// anyway.
void sync_directory(const QString& dir);

/// Creates or empties `path` (readable by everyone, writable by the owner), writes `bytes` and
/// flushes them to disk. False when any of it failed; the file may then hold part of `bytes`.
bool write_synced(const QString& path, const QByteArray& bytes);

} // namespace qorv
