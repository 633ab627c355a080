// Reading ELF dynamic symbol tables and the dynamic loader's cache from bytes, without loading
// anything. Every offset and size in the input is checked before it is used: the input is a
// file of the system, but it may be truncated or not what its name says.

#include "sysinfo_p.h"

#include <elf.h>
#include <link.h>

#include <cstring>
#include <type_traits>

namespace lumora::detail {

namespace {

using Ehdr = ElfW(Ehdr);
using Shdr = ElfW(Shdr);
using Sym = ElfW(Sym);

#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr unsigned char native_data = ELFDATA2LSB;
#else
constexpr unsigned char native_data = ELFDATA2MSB;
#endif
constexpr unsigned char native_class = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;

#if defined(__x86_64__)
constexpr std::uint16_t native_machine = EM_X86_64;
#elif defined(__i386__)
constexpr std::uint16_t native_machine = EM_386;
#elif defined(__aarch64__)
constexpr std::uint16_t native_machine = EM_AARCH64;
#elif defined(__arm__)
constexpr std::uint16_t native_machine = EM_ARM;
#elif defined(__powerpc64__)
constexpr std::uint16_t native_machine = EM_PPC64;
#elif defined(__s390x__)
constexpr std::uint16_t native_machine = EM_S390;
#elif defined(__riscv)
constexpr std::uint16_t native_machine = EM_RISCV;
#else
#error "unknown ELF machine"
#endif

/// A trivially copyable T read from `bytes` at `offset`, if it lies wholly inside.
template <typename T> std::optional<T> read_at(QByteArrayView bytes, std::uint64_t offset)
{
    static_assert(std::is_trivially_copyable_v<T>);
    const auto size = static_cast<std::uint64_t>(bytes.size());
    if (offset > size || size - offset < sizeof(T))
        return std::nullopt;
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

/// Whether [offset, offset + length) lies inside `bytes`.
bool inside(QByteArrayView bytes, std::uint64_t offset, std::uint64_t length)
{
    const auto size = static_cast<std::uint64_t>(bytes.size());
    return offset <= size && length <= size - offset;
}

/// Whether a symbol is one that a lookup by name finds in its object.
bool resolvable(const Sym& sym, std::optional<std::uint16_t> version)
{
    if (sym.st_shndx == SHN_UNDEF || sym.st_shndx == SHN_ABS || sym.st_value == 0)
        return false;
    switch (sym.st_info >> 4) {
    case STB_GLOBAL:
    case STB_WEAK:
    case STB_GNU_UNIQUE:
        break;
    default:
        return false;
    }
    switch (sym.st_info & 0xf) {
    case STT_NOTYPE:
    case STT_OBJECT:
    case STT_FUNC:
    case STT_COMMON:
    case STT_GNU_IFUNC:
        break;
    default: // sections, files, and thread-local variables, which have no one address
        return false;
    }
    const unsigned visibility = sym.st_other & 0x3u;
    if (visibility == STV_HIDDEN || visibility == STV_INTERNAL)
        return false;
    // A lookup without a version takes the default version of a name; versions marked hidden
    // ("name@VERSION" rather than "name@@VERSION") are only found by asking for them.
    if (version && (*version & 0x7fff) >= 2 && (*version & 0x8000) != 0)
        return false;
    return true;
}

/// Looks `name` up through a GNU hash section, calling `exported_at` for every symbol index of
/// its chain whose hash matches. Empty when the table is damaged (the caller then reads every
/// symbol).
template <typename F>
std::optional<bool> gnu_hash_lookup(QByteArrayView image, const Shdr& table,
                                    std::uint64_t symbol_count, QByteArrayView name,
                                    F&& exported_at)
{
    if (!inside(image, table.sh_offset, table.sh_size))
        return std::nullopt;
    const QByteArrayView bytes = image.sliced(static_cast<qsizetype>(table.sh_offset),
                                              static_cast<qsizetype>(table.sh_size));
    const auto word = [&](std::uint64_t offset) { return read_at<std::uint32_t>(bytes, offset); };
    const auto buckets = word(0), first_hashed = word(4), bloom_words = word(8);
    if (!buckets || !first_hashed || !bloom_words || *buckets == 0)
        return std::nullopt;
    const std::uint64_t bucket_offset = 16 + std::uint64_t{*bloom_words} * sizeof(ElfW(Addr));
    const std::uint64_t chain_offset = bucket_offset + std::uint64_t{*buckets} * 4;
    if (!inside(bytes, bucket_offset, std::uint64_t{*buckets} * 4))
        return std::nullopt;

    std::uint32_t hash = 5381;
    for (const char c : name)
        hash = hash * 33 + static_cast<unsigned char>(c);
    const std::uint32_t start = *word(bucket_offset + std::uint64_t{hash % *buckets} * 4);
    if (start == 0)
        return false; // no symbol of this hash
    if (start < *first_hashed)
        return std::nullopt;
    for (std::uint64_t i = start; i < symbol_count; ++i) {
        const auto chain = word(chain_offset + (i - *first_hashed) * 4);
        if (!chain)
            return std::nullopt;
        if ((*chain | 1u) == (hash | 1u) && exported_at(i))
            return true;
        if (*chain & 1u)
            return false; // the last symbol of the chain
    }
    return std::nullopt;
}

} // namespace

bool elf_compatible(QByteArrayView header)
{
    const auto ehdr = read_at<Ehdr>(header, 0);
    if (!ehdr)
        return false;
    return std::memcmp(ehdr->e_ident, ELFMAG, SELFMAG) == 0 &&
           ehdr->e_ident[EI_CLASS] == native_class && ehdr->e_ident[EI_DATA] == native_data &&
           ehdr->e_type == ET_DYN && ehdr->e_machine == native_machine;
}

std::optional<bool> elf_exports(QByteArrayView image, QByteArrayView function)
{
    if (!elf_compatible(image))
        return std::nullopt;
    const Ehdr ehdr = *read_at<Ehdr>(image, 0);
    if (ehdr.e_shoff == 0 || ehdr.e_shentsize != sizeof(Shdr))
        return false; // no section table: nothing to look the name up in
    std::uint64_t section_count = ehdr.e_shnum;
    if (section_count == 0) {
        // More sections than e_shnum can hold: the count is in the first section header.
        const auto first = read_at<Shdr>(image, ehdr.e_shoff);
        if (!first)
            return false;
        section_count = first->sh_size;
    }
    if (section_count > static_cast<std::uint64_t>(image.size()) / sizeof(Shdr) ||
        !inside(image, ehdr.e_shoff, section_count * sizeof(Shdr)))
        return false;
    const auto section = [&](std::uint64_t index) {
        return *read_at<Shdr>(image, ehdr.e_shoff + index * sizeof(Shdr));
    };

    std::optional<Shdr> dynsym;
    std::uint64_t dynsym_index = 0;
    for (std::uint64_t i = 0; i < section_count; ++i) {
        const Shdr s = section(i);
        if (s.sh_type == SHT_DYNSYM) {
            dynsym = s;
            dynsym_index = i;
            break;
        }
    }
    if (!dynsym || dynsym->sh_entsize != sizeof(Sym) || dynsym->sh_link >= section_count ||
        !inside(image, dynsym->sh_offset, dynsym->sh_size))
        return false;
    const Shdr strtab = section(dynsym->sh_link);
    if (strtab.sh_type != SHT_STRTAB || !inside(image, strtab.sh_offset, strtab.sh_size))
        return false;
    const std::uint64_t symbol_count = dynsym->sh_size / sizeof(Sym);

    // The version of each symbol, when the object has versions.
    std::optional<Shdr> versym;
    for (std::uint64_t i = 0; i < section_count; ++i) {
        const Shdr s = section(i);
        if (s.sh_type == SHT_GNU_versym && s.sh_link == dynsym_index &&
            inside(image, s.sh_offset, s.sh_size) &&
            s.sh_size / sizeof(std::uint16_t) >= symbol_count) {
            versym = s;
            break;
        }
    }

    const char* strings = image.data() + strtab.sh_offset;
    const std::uint64_t strings_size = strtab.sh_size;
    const auto exported_at = [&](std::uint64_t i) {
        const Sym sym = *read_at<Sym>(image, dynsym->sh_offset + i * sizeof(Sym));
        if (sym.st_name >= strings_size)
            return false;
        const std::uint64_t room = strings_size - sym.st_name;
        if (room <= static_cast<std::uint64_t>(function.size()))
            return false; // the name and its terminating zero must fit
        const char* name = strings + sym.st_name;
        if (std::memcmp(name, function.data(), static_cast<std::size_t>(function.size())) != 0 ||
            name[function.size()] != '\0')
            return false;
        std::optional<std::uint16_t> version;
        if (versym)
            version = read_at<std::uint16_t>(image, versym->sh_offset + i * sizeof(std::uint16_t));
        return resolvable(sym, version);
    };

    // The loader looks names up through the GNU hash table; so does this, when there is one.
    for (std::uint64_t i = 0; i < section_count; ++i) {
        const Shdr s = section(i);
        if (s.sh_type == SHT_GNU_HASH && s.sh_link == dynsym_index)
            if (const auto found = gnu_hash_lookup(image, s, symbol_count, function, exported_at))
                return *found;
    }
    for (std::uint64_t i = 1; i < symbol_count; ++i) {
        if (exported_at(i))
            return true;
    }
    return false;
}

QStringList ld_cache_paths(QByteArrayView cache, QByteArrayView library)
{
    // The cache of glibc 2.32 and later: "glibc-ld.so.cache1.1", a header, entries, strings.
    // Older caches put an obsolete table ("ld.so-1.7.0") first and the new format after it.
    static constexpr char new_magic[] = "glibc-ld.so.cache1.1";
    static constexpr char old_magic[] = "ld.so-1.7.0";
    constexpr std::uint64_t new_magic_size = sizeof(new_magic) - 1;
    constexpr std::uint64_t old_magic_size = sizeof(old_magic) - 1;

    std::uint64_t start = 0;
    if (cache.size() >= static_cast<qsizetype>(old_magic_size) &&
        std::memcmp(cache.data(), old_magic, old_magic_size) == 0) {
        // struct { char magic[11]; uint32 nlibs; struct { int32 flags; uint32 key, value; } libs[];
        // }
        const auto old_count = read_at<std::uint32_t>(cache, 12);
        if (!old_count)
            return {};
        start = 16 + std::uint64_t{*old_count} * 12;
        start = (start + 7) & ~std::uint64_t{7};
    }
    if (!inside(cache, start, new_magic_size) ||
        std::memcmp(cache.data() + start, new_magic, new_magic_size) != 0)
        return {};

    constexpr std::uint64_t header_size = 48;
    constexpr std::uint64_t entry_size = 24; // int32 flags; uint32 key, value, osversion; uint64
    const auto count = read_at<std::uint32_t>(cache, start + 20);
    if (!count || !inside(cache, start + header_size, std::uint64_t{*count} * entry_size))
        return {};

    // String offsets count from the start of the new-format header.
    const auto string_at = [&](std::uint32_t offset) -> std::optional<QByteArrayView> {
        const std::uint64_t at = start + offset;
        if (!inside(cache, at, 1))
            return std::nullopt;
        const char* begin = cache.data() + at;
        const void* end = std::memchr(begin, '\0', static_cast<std::size_t>(cache.size() - at));
        if (!end)
            return std::nullopt;
        return QByteArrayView(begin, static_cast<const char*>(end) - begin);
    };

    QStringList paths;
    for (std::uint64_t i = 0; i < *count; ++i) {
        const std::uint64_t entry = start + header_size + i * entry_size;
        const auto key = string_at(*read_at<std::uint32_t>(cache, entry + 4));
        const auto value = string_at(*read_at<std::uint32_t>(cache, entry + 8));
        if (key && value && *key == library)
            paths.append(QString::fromLocal8Bit(*value));
    }
    return paths;
}

QStringList library_path_directories(QByteArrayView ld_library_path)
{
    QStringList directories;
    if (ld_library_path.isEmpty())
        return directories;
    qsizetype begin = 0;
    for (qsizetype i = 0; i <= ld_library_path.size(); ++i) {
        if (i == ld_library_path.size() || ld_library_path[i] == ':' || ld_library_path[i] == ';') {
            const QByteArrayView element = ld_library_path.sliced(begin, i - begin);
            directories.append(element.isEmpty() ? QStringLiteral(".")
                                                 : QString::fromLocal8Bit(element));
            begin = i + 1;
        }
    }
    return directories;
}

} // namespace lumora::detail
