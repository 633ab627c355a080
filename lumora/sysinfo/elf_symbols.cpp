// Reading ELF dynamic symbol tables and the dynamic loader's cache from bytes, without loading
// anything. Every address, offset and size in the input is checked before it is used: the input
// is a file of the system, but it may be truncated or not what its name says.
//
// Symbols are looked up as the dynamic loader looks them up: through the dynamic segment and its
// hash table. The section table is never read; the loader does not need it and a valid library
// may have none.

#include "sysinfo_p.h"

#include <elf.h>
#include <link.h>

#include <cstring>
#include <type_traits>

namespace lumora::detail {

namespace {

using Ehdr = ElfW(Ehdr);
using Phdr = ElfW(Phdr);
using Dyn = ElfW(Dyn);
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

/// The bytes at the object's addresses [address, address + length), when they lie wholly inside
/// one of its loadable segments.
std::optional<QByteArrayView> bytes_at(const elf_object& object, std::uint64_t address,
                                       std::uint64_t length)
{
    for (const elf_segment& segment : object.segments) {
        if (address < segment.address)
            continue;
        const std::uint64_t offset = address - segment.address;
        if (inside(segment.bytes, offset, length))
            return segment.bytes.sliced(static_cast<qsizetype>(offset),
                                        static_cast<qsizetype>(length));
    }
    return std::nullopt;
}

template <typename T> std::optional<T> value_at(const elf_object& object, std::uint64_t address)
{
    const auto bytes = bytes_at(object, address, sizeof(T));
    return bytes ? read_at<T>(*bytes, 0) : std::nullopt;
}

/// An address from the dynamic table as an address of the object. In memory the loader may have
/// added the load address to it (it does for most objects, not for the vDSO); such an address
/// lies far beyond the object's own addresses.
std::uint64_t object_address(const elf_object& object, std::uint64_t address)
{
    if (object.load_address != 0 && address >= object.load_address &&
        bytes_at(object, address - object.load_address, 1))
        return address - object.load_address;
    return address;
}

/// What the dynamic table says about the symbols.
struct dynamic_table {
    std::uint64_t symtab = 0, strtab = 0, strsz = 0, hash = 0, gnu_hash = 0, versym = 0;
    std::optional<std::uint64_t> soname;
    QByteArrayView strings;
};

std::optional<dynamic_table> read_dynamic(const elf_object& object)
{
    dynamic_table table;
    bool has_symtab = false, has_strtab = false;
    for (std::uint64_t offset = 0;; offset += sizeof(Dyn)) {
        const auto entry = read_at<Dyn>(object.dynamic, offset);
        if (!entry || entry->d_tag == DT_NULL)
            break;
        const auto value = static_cast<std::uint64_t>(entry->d_un.d_val);
        switch (entry->d_tag) {
        case DT_SYMTAB:
            table.symtab = object_address(object, value);
            has_symtab = true;
            break;
        case DT_STRTAB:
            table.strtab = object_address(object, value);
            has_strtab = true;
            break;
        case DT_STRSZ:
            table.strsz = value;
            break;
        case DT_SYMENT:
            if (value != sizeof(Sym))
                return std::nullopt;
            break;
        case DT_HASH:
            table.hash = object_address(object, value);
            break;
        case DT_GNU_HASH:
            table.gnu_hash = object_address(object, value);
            break;
        case DT_VERSYM:
            table.versym = object_address(object, value);
            break;
        case DT_SONAME:
            table.soname = value;
            break;
        default:
            break;
        }
    }
    if (!has_symtab || !has_strtab)
        return std::nullopt;
    const auto strings = bytes_at(object, table.strtab, table.strsz);
    if (!strings)
        return std::nullopt;
    table.strings = *strings;
    return table;
}

/// The string at `offset` of the string table, if it ends inside it.
std::optional<QByteArrayView> string_in(QByteArrayView strings, std::uint64_t offset)
{
    if (offset >= static_cast<std::uint64_t>(strings.size()))
        return std::nullopt;
    const char* begin = strings.data() + offset;
    const void* end = std::memchr(begin, '\0', static_cast<std::size_t>(strings.size()) - offset);
    if (!end)
        return std::nullopt;
    return QByteArrayView(begin, static_cast<const char*>(end) - begin);
}

/// Whether a symbol is one that a lookup by name finds in its object, as the loader decides.
bool resolvable(const Sym& sym, std::optional<std::uint16_t> version)
{
    const unsigned type = sym.st_info & 0xf;
    if (sym.st_shndx == SHN_UNDEF || sym.st_shndx == SHN_ABS)
        return false;
    // A thread-local variable is an offset into the thread's block, and 0 is a valid one.
    if (sym.st_value == 0 && type != STT_TLS)
        return false;
    switch (sym.st_info >> 4) {
    case STB_GLOBAL:
    case STB_WEAK:
    case STB_GNU_UNIQUE:
        break;
    default:
        return false;
    }
    switch (type) {
    case STT_NOTYPE:
    case STT_OBJECT:
    case STT_FUNC:
    case STT_COMMON:
    case STT_TLS: // dlsym gives the calling thread's instance
    case STT_GNU_IFUNC:
        break;
    default: // sections and files
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

/// Looks `name` up through the GNU hash table at `table`, calling `exported_at` for every symbol
/// index of its chain whose hash matches. Empty when the table is damaged.
template <typename F>
std::optional<bool> gnu_hash_lookup(const elf_object& object, std::uint64_t table,
                                    QByteArrayView name, F&& exported_at)
{
    const auto word = [&](std::uint64_t address) {
        return value_at<std::uint32_t>(object, address);
    };
    const auto buckets = word(table), first_hashed = word(table + 4), bloom_words = word(table + 8),
               bloom_shift = word(table + 12);
    if (!buckets || !first_hashed || !bloom_words || !bloom_shift || *buckets == 0 ||
        *bloom_words == 0 || (*bloom_words & (*bloom_words - 1)) != 0)
        return std::nullopt;

    std::uint32_t hash = 5381;
    for (const char c : name)
        hash = hash * 33 + static_cast<unsigned char>(c);

    // The loader asks the Bloom filter first: two bits of the hash that every name in the table
    // sets.
    using word_t = ElfW(Addr);
    constexpr unsigned bits = sizeof(word_t) * 8;
    const auto bloom = value_at<word_t>(
        object, table + 16 + std::uint64_t{(hash / bits) & (*bloom_words - 1)} * sizeof(word_t));
    if (!bloom)
        return std::nullopt;
    if (((*bloom >> (hash % bits)) & (*bloom >> ((hash >> (*bloom_shift % 32)) % bits)) & 1) == 0)
        return false;

    const std::uint64_t bucket_table = table + 16 + std::uint64_t{*bloom_words} * sizeof(word_t);
    const std::uint64_t chain_table = bucket_table + std::uint64_t{*buckets} * 4;
    const auto start = word(bucket_table + std::uint64_t{hash % *buckets} * 4);
    if (!start)
        return std::nullopt;
    if (*start == 0)
        return false; // no symbol of this hash
    if (*start < *first_hashed)
        return std::nullopt;
    // Every step reads further on, so a damaged chain ends where its segment does.
    for (std::uint64_t i = *start;; ++i) {
        const auto chain = word(chain_table + (i - *first_hashed) * 4);
        if (!chain)
            return std::nullopt;
        if ((*chain | 1u) == (hash | 1u) && exported_at(i))
            return true;
        if (*chain & 1u)
            return false; // the last symbol of the chain
    }
}

/// Looks `name` up through the System V hash table at `table`. Empty when it is damaged.
template <typename F>
std::optional<bool> sysv_hash_lookup(const elf_object& object, std::uint64_t table,
                                     QByteArrayView name, F&& exported_at)
{
    const auto word = [&](std::uint64_t address) {
        return value_at<std::uint32_t>(object, address);
    };
    const auto buckets = word(table), chains = word(table + 4);
    if (!buckets || !chains || *buckets == 0)
        return std::nullopt;
    std::uint32_t hash = 0;
    for (const char c : name) {
        hash = (hash << 4) + static_cast<unsigned char>(c);
        hash ^= (hash >> 24) & 0xf0;
    }
    hash &= 0x0fffffff;
    const std::uint64_t chain_table = table + 8 + std::uint64_t{*buckets} * 4;
    auto index = word(table + 8 + std::uint64_t{hash % *buckets} * 4);
    // A chain visits each symbol at most once; a longer one is a loop in a damaged table.
    for (std::uint64_t steps = 0; index && *index != STN_UNDEF; ++steps) {
        if (*index >= *chains || steps > *chains)
            return std::nullopt;
        if (exported_at(*index))
            return true;
        index = word(chain_table + std::uint64_t{*index} * 4);
    }
    return index ? std::optional<bool>(false) : std::nullopt;
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

std::optional<elf_object> elf_file_object(QByteArrayView image)
{
    if (!elf_compatible(image))
        return std::nullopt;
    const Ehdr ehdr = *read_at<Ehdr>(image, 0);
    if (ehdr.e_phentsize != sizeof(Phdr))
        return std::nullopt;
    elf_object object;
    // A segment that the file does not hold wholly is cut where the file ends: the reads check
    // every address against what is there.
    const auto file_part = [&](std::uint64_t offset, std::uint64_t size) {
        const auto length = static_cast<std::uint64_t>(image.size());
        if (offset > length)
            return QByteArrayView();
        return image.sliced(static_cast<qsizetype>(offset),
                            static_cast<qsizetype>(std::min(size, length - offset)));
    };
    for (std::uint64_t i = 0; i < ehdr.e_phnum; ++i) {
        const auto phdr = read_at<Phdr>(image, ehdr.e_phoff + i * sizeof(Phdr));
        if (!phdr)
            return std::nullopt;
        if (phdr->p_type == PT_LOAD)
            object.segments.push_back({phdr->p_vaddr, file_part(phdr->p_offset, phdr->p_filesz)});
        else if (phdr->p_type == PT_DYNAMIC)
            object.dynamic = file_part(phdr->p_offset, phdr->p_filesz);
    }
    return object;
}

std::optional<bool> dynamic_exports(const elf_object& object, QByteArrayView function)
{
    const auto table = read_dynamic(object);
    if (!table)
        return std::nullopt;
    const auto exported_at = [&](std::uint64_t i) {
        const auto sym = value_at<Sym>(object, table->symtab + i * sizeof(Sym));
        if (!sym || string_in(table->strings, sym->st_name) != function)
            return false;
        std::optional<std::uint16_t> version;
        if (table->versym != 0)
            version = value_at<std::uint16_t>(object, table->versym + i * sizeof(std::uint16_t));
        return resolvable(*sym, version);
    };
    // The loader takes the GNU hash table when there is one, else the System V one.
    if (table->gnu_hash != 0)
        return gnu_hash_lookup(object, table->gnu_hash, function, exported_at);
    if (table->hash != 0)
        return sysv_hash_lookup(object, table->hash, function, exported_at);
    return false; // nothing to look a name up in
}

std::optional<QByteArray> dynamic_soname(const elf_object& object)
{
    const auto table = read_dynamic(object);
    if (!table || !table->soname)
        return std::nullopt;
    const auto name = string_in(table->strings, *table->soname);
    return name ? std::optional<QByteArray>(name->toByteArray()) : std::nullopt;
}

std::optional<bool> elf_exports(QByteArrayView image, QByteArrayView function)
{
    if (!elf_compatible(image))
        return std::nullopt;
    const auto object = elf_file_object(image);
    return object && dynamic_exports(*object, function).value_or(false);
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
