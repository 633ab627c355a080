// The system probes on Linux: loaded objects through the loader's link map, other libraries
// through their files, the architecture through uname().
//
// Nothing here goes through dlopen(): asked for a name it does not find loaded, the loader opens
// and reads candidate files while it holds its lock, and a FIFO among them would stop it (and
// with it every thread that loads a library) for ever. Files are only opened when they are
// regular files.

#include "probes.h"
#include "sysinfo_p.h"

#include <QFile>

#include <fcntl.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <new>
#include <vector>

namespace lumora {

std::atomic<bool> blniswin64bit = false;

namespace detail {

namespace {

/// The system directories the loader searches last.
QStringList system_directories()
{
    QStringList directories;
#if defined(__x86_64__)
    const QString triplet = QStringLiteral("x86_64-linux-gnu");
#elif defined(__aarch64__)
    const QString triplet = QStringLiteral("aarch64-linux-gnu");
#elif defined(__i386__)
    const QString triplet = QStringLiteral("i386-linux-gnu");
#else
    const QString triplet;
#endif
    if (!triplet.isEmpty())
        directories << QStringLiteral("/lib/") + triplet << QStringLiteral("/usr/lib/") + triplet;
    if (sizeof(void*) == 8)
        directories << QStringLiteral("/lib64") << QStringLiteral("/usr/lib64");
    directories << QStringLiteral("/lib") << QStringLiteral("/usr/lib");
    return directories;
}

/// A regular file open for reading. Anything else (a FIFO, a device, a directory, a socket) is
/// never opened: opening a FIFO waits for a writer, and opening a device may act on it.
class regular_file {
public:
    explicit regular_file(const QString& path)
    {
        const QByteArray name = QFile::encodeName(path);
        struct stat st {};
        if (name.isEmpty() || name.contains('\0') || ::stat(name.constData(), &st) != 0 ||
            !S_ISREG(st.st_mode))
            return;
        // Should the name have become something else since, O_NONBLOCK keeps the open from
        // waiting and fstat() tells.
        fd_ = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd_ >= 0 && (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))) {
            ::close(fd_);
            fd_ = -1;
        }
        size_ = st.st_size;
    }
    ~regular_file()
    {
        if (map_ != MAP_FAILED)
            ::munmap(map_, static_cast<std::size_t>(size_));
        if (fd_ >= 0)
            ::close(fd_);
    }
    regular_file(const regular_file&) = delete;
    regular_file& operator=(const regular_file&) = delete;

    /// The first `length` bytes (fewer if the file is shorter); empty when it is not open.
    QByteArray head(qsizetype length) const
    {
        QByteArray bytes(length, Qt::Uninitialized);
        const ssize_t got = fd_ >= 0 ? ::pread(fd_, bytes.data(), std::size_t(length), 0) : -1;
        bytes.truncate(got > 0 ? got : 0);
        return bytes;
    }

    /// The whole file, mapped; empty when it is not open, empty or cannot be mapped.
    QByteArrayView contents()
    {
        if (fd_ < 0 || size_ <= 0)
            return {};
        if (map_ == MAP_FAILED)
            map_ = ::mmap(nullptr, static_cast<std::size_t>(size_), PROT_READ, MAP_PRIVATE, fd_, 0);
        if (map_ == MAP_FAILED)
            return {};
        return QByteArrayView(static_cast<const char*>(map_), static_cast<qsizetype>(size_));
    }

private:
    int fd_ = -1;
    off_t size_ = 0;
    void* map_ = MAP_FAILED;
};

/// Whether `path` is a file the loader could map into this process.
bool loadable_file(const QString& path)
{
    return elf_compatible(regular_file(path).head(sizeof(ElfW(Ehdr))));
}

/// The loaded object described by `info` as the symbol lookup reads it, from its memory.
elf_object object_in_memory(const dl_phdr_info& info)
{
    elf_object object;
    object.load_address = info.dlpi_addr;
    for (ElfW(Half) i = 0; i < info.dlpi_phnum; ++i) {
        const ElfW(Phdr)& phdr = info.dlpi_phdr[i];
        const auto* at = reinterpret_cast<const char*>(info.dlpi_addr + phdr.p_vaddr);
        const auto size = static_cast<qsizetype>(phdr.p_memsz);
        // A segment mapped without read access would fault when read.
        if (phdr.p_type == PT_LOAD && (phdr.p_flags & PF_R))
            object.segments.push_back({phdr.p_vaddr, QByteArrayView(at, size)});
        else if (phdr.p_type == PT_DYNAMIC)
            object.dynamic = QByteArrayView(at, size);
    }
    return object;
}

/// An object of the link map: where it is loaded, the name the loader keeps for it, its SONAME.
struct loaded_object {
    ElfW(Addr) address = 0;
    QByteArray name;
    QByteArray soname;
};

/// Every object of the link map. Read while dl_iterate_phdr() holds the loader's lock, so that
/// no object is unmapped meanwhile.
std::vector<loaded_object> loaded_objects()
{
    struct walk {
        std::vector<loaded_object> objects;
        bool failed = false;
    } w;
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
            auto* out = static_cast<walk*>(data);
            try { // nothing may be thrown through the loader
                out->objects.push_back({info->dlpi_addr,
                                        QByteArray(info->dlpi_name ? info->dlpi_name : ""),
                                        dynamic_soname(object_in_memory(*info)).value_or("")});
                return 0;
            } catch (...) {
                out->failed = true;
                return 1;
            }
        },
        &w);
    if (w.failed)
        throw std::bad_alloc();
    return std::move(w.objects);
}

/// Whether `path` names the regular file that `file` describes.
bool same_file(const QByteArray& path, const struct stat& file)
{
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode) && st.st_dev == file.st_dev &&
           st.st_ino == file.st_ino;
}

/// The loaded object that the loader would hand out for `library`, as dlopen() with RTLD_NOLOAD
/// finds it: by name or SONAME, and a path also by being the file of a loaded object.
std::optional<loaded_object> find_loaded(const QByteArray& library)
{
    const std::vector<loaded_object> objects = loaded_objects();
    for (const loaded_object& o : objects) {
        if (o.name == library || o.soname == library)
            return o;
    }
    struct stat wanted {};
    if (!library.contains('/') || ::stat(library.constData(), &wanted) != 0 ||
        !S_ISREG(wanted.st_mode))
        return std::nullopt;
    for (const loaded_object& o : objects) {
        if (o.name.contains('/') && same_file(o.name, wanted))
            return o;
    }
    return std::nullopt;
}

} // namespace

std::optional<bool> loaded_library_exports(const QByteArray& library, const QByteArray& function)
{
    const auto wanted = find_loaded(library);
    if (!wanted)
        return std::nullopt;
    // Looked up in the image in memory, while the loader's lock keeps it there.
    struct lookup {
        const loaded_object& object;
        QByteArrayView function;
        std::optional<bool> answer;
        bool found = false;
        bool failed = false;
    } l{*wanted, function, std::nullopt};
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
            auto* query = static_cast<lookup*>(data);
            if (info->dlpi_addr != query->object.address ||
                QByteArrayView(info->dlpi_name ? info->dlpi_name : "") != query->object.name)
                return 0;
            query->found = true;
            try { // nothing may be thrown through the loader
                query->answer = dynamic_exports(object_in_memory(*info), query->function);
            } catch (...) {
                query->failed = true;
            }
            return 1;
        },
        &l);
    if (l.failed)
        throw std::bad_alloc();
    if (!l.found)
        return std::nullopt; // unloaded meanwhile
    return l.answer.value_or(false);
}

std::optional<bool> file_exports(const QString& path, const QByteArray& function)
{
    regular_file file(path);
    const QByteArrayView image = file.contents();
    if (image.isEmpty())
        return std::nullopt;
    return elf_exports(image, function);
}

QString find_library_file(const QString& library)
{
    if (library.isEmpty())
        return QString();
    if (library.contains(QLatin1Char('/')))
        return loadable_file(library) ? library : QString();

    QStringList candidates;
    for (const QString& directory : library_path_directories(qgetenv("LD_LIBRARY_PATH")))
        candidates << directory + QLatin1Char('/') + library;
    regular_file cache(QStringLiteral("/etc/ld.so.cache"));
    candidates << ld_cache_paths(cache.contents(), QFile::encodeName(library));
    for (const QString& directory : system_directories())
        candidates << directory + QLatin1Char('/') + library;

    for (const QString& candidate : candidates) {
        if (loadable_file(candidate))
            return candidate;
    }
    return QString();
}

std::int32_t native_architecture(QByteArrayView machine)
{
    if (machine == "x86_64" || machine == "amd64")
        return processor_architecture_amd64;
    if (machine == "ia64")
        return processor_architecture_ia64;
    if (machine == "aarch64" || machine == "arm64" || machine == "aarch64_be")
        return processor_architecture_arm64;
    if (machine == "i386" || machine == "i486" || machine == "i586" || machine == "i686" ||
        machine == "x86")
        return processor_architecture_intel;
    if (machine.startsWith("arm"))
        return processor_architecture_arm;
    return processor_architecture_unknown;
}

QString infoversion64bit(QByteArrayView machine)
{
    blniswin64bit = false;
    const std::int32_t architecture = native_architecture(machine);
    if (architecture == processor_architecture_amd64 ||
        architecture == processor_architecture_ia64) {
        blniswin64bit = true;
        return QStringLiteral("64bits");
    }
    return QStringLiteral("32bits");
}

} // namespace detail

bool of_apifunctionpresent(const std::optional<QString>& ls_functionname,
                           const std::optional<QString>& ls_dllname)
{
    if (!ls_functionname || !ls_dllname || ls_functionname->isEmpty() || ls_dllname->isEmpty())
        return false;
    const QByteArray function = ls_functionname->toUtf8();
    const QByteArray library = QFile::encodeName(*ls_dllname);
    // A zero inside a name would cut it short on the way to the loader.
    if (function.contains('\0') || library.contains('\0'))
        return false;
    if (const auto loaded = detail::loaded_library_exports(library, function))
        return *loaded;

    const QString path = detail::find_library_file(*ls_dllname);
    if (path.isEmpty())
        return false;
    return detail::file_exports(path, function).value_or(false);
}

QString of_infoversion64bit()
{
    blniswin64bit = false;
    // A process running x86-64 (or Itanium) code is on such a system: a 32-bit personality
    // (setarch i686) only changes what uname() reports.
#if defined(__x86_64__)
    return detail::infoversion64bit("x86_64");
#elif defined(__ia64__)
    return detail::infoversion64bit("ia64");
#else
    utsname name{};
    if (uname(&name) != 0)
        return QStringLiteral("32bits");
    return detail::infoversion64bit(QByteArrayView(name.machine));
#endif
}

} // namespace lumora
