#pragma once

// Internals of the system probes. The tests reach them through the object library and the fuzz
// targets compile them in; not installed.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace lumora::detail {

/// For a library the process has loaded (found in the link map by the name the loader keeps for it,
/// by its SONAME, or for a path by being the same file): whether the library itself exports
/// `function`, read from its image in memory. Empty when no such library is loaded. Loads nothing
/// and opens nothing.
std::optional<bool> loaded_library_exports(const QByteArray& library, const QByteArray& function);

/// Whether an ELF shared object for this process's machine and word size starts `header`.
bool elf_compatible(QByteArrayView header);
/// elf_exports() of the file at `path`; empty when it is no regular file (which is never opened),
/// cannot be read, or is no library for this machine.
std::optional<bool> file_exports(const QString& path, const QByteArray& function);

/// A loadable segment of an ELF object: the bytes from the object's address `address` on.
struct elf_segment {
    std::uint64_t address = 0;
    QByteArrayView bytes;
};

/// What a symbol lookup reads of an ELF object, from a file or from memory.
struct elf_object {
    std::vector<elf_segment> segments;
    /// The dynamic table (the segment PT_DYNAMIC).
    QByteArrayView dynamic;
    /// For an object in memory, where the loader placed it; its dynamic table may hold addresses
    /// with this added. 0 for a file.
    std::uint64_t load_address = 0;
};

/// The segments and dynamic table of the ELF image `image` (a whole file). Empty when `image` is
/// no compatible ELF shared object or has no readable program headers.
std::optional<elf_object> elf_file_object(QByteArrayView image);

/// Whether `object` exports `function` as the dynamic loader resolves a name without a version:
/// through its hash table, defined, global or weak, visible, not of a hidden version
/// (thread-local variables included). Empty when its dynamic table is damaged.
std::optional<bool> dynamic_exports(const elf_object& object, QByteArrayView function);

/// The SONAME of `object`, if it has one.
std::optional<QByteArray> dynamic_soname(const elf_object& object);

/// dynamic_exports() of the ELF image `image` (a whole file); false for a damaged one. Empty when
/// `image` is no compatible ELF shared object.
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
