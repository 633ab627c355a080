#pragma once

// Internals of the system probes. The tests reach them through the object library and the fuzz
// targets compile them in; not installed.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace lumora::detail {

/// For a library the process has loaded (matched by name or path as dlopen() matches it):
/// whether the library itself defines the exported symbol `function`. Empty when no such
/// library is loaded; loads nothing.
std::optional<bool> loaded_library_exports(const QByteArray& library, const QByteArray& function);

/// Whether an ELF shared object for this process's machine and word size starts `header`.
bool elf_compatible(QByteArrayView header);
/// elf_exports() of the file at `path`; empty when it cannot be read or is no library for this
/// machine.
std::optional<bool> file_exports(const QString& path, const QByteArray& function);

/// Whether the ELF image `image` (a whole file) exports `function` in its dynamic symbol table
/// as the dynamic loader would resolve it by name: defined, global or weak, visible, not of a
/// hidden version, not thread-local. Empty when `image` is no compatible ELF shared object.
std::optional<bool> elf_exports(QByteArrayView image, QByteArrayView function);

/// The paths the loader's cache file (the contents of /etc/ld.so.cache) lists for the library
/// name `library`, in the cache's order. Empty for a malformed cache.
QStringList ld_cache_paths(QByteArrayView cache, QByteArrayView library);

/// The directories searched before the cache: LD_LIBRARY_PATH, split at ":" and ";" (an empty
/// element is the current directory).
QStringList library_path_directories(QByteArrayView ld_library_path);

/// The file the dynamic loader would open for `library`: a name with a "/" as it is, otherwise
/// the first compatible file in the LD_LIBRARY_PATH directories, the cache, and the system
/// directories. Empty when there is none.
QString find_library_file(const QString& library);

/// The processor architecture code for a machine name as uname() gives it.
std::int32_t native_architecture(QByteArrayView machine);

/// of_infoversion64bit() for a system whose native machine is `machine`.
QString infoversion64bit(QByteArrayView machine);

} // namespace lumora::detail
