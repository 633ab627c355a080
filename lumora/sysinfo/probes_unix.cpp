// The system probes on Linux: loaded objects through the dynamic linker, other libraries
// through their files, the architecture through uname().

#include "probes.h"
#include "sysinfo_p.h"

#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>
#include <link.h>
#include <sys/utsname.h>

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

/// Whether `path` is a file the loader could map into this process.
bool loadable_file(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return elf_compatible(file.read(sizeof(ElfW(Ehdr))));
}

} // namespace

std::optional<bool> loaded_library_exports(const QByteArray& library, const QByteArray& function)
{
    // RTLD_NOLOAD hands out a reference to an object that is already there and never loads one.
    void* handle = dlopen(library.constData(), RTLD_LAZY | RTLD_NOLOAD);
    if (!handle)
        return std::nullopt;
    struct closer {
        void* handle;
        ~closer() { dlclose(handle); }
    } close{handle};

    link_map* own = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &own) != 0 || !own)
        return false;
    // The library's own file answers, as for a library that is not loaded: dlsym would miss the
    // loader's own exports, functions that resolve into the vDSO, and unique symbols another
    // library defined first, so that loading a library would change the answer.
    if (own->l_name && own->l_name[0] == '/') {
        if (const auto exported = file_exports(QFile::decodeName(own->l_name), function))
            return *exported;
    }
    // An object without a readable file (the vDSO): what the loader finds in it.
    dlerror();
    void* address = dlsym(handle, function.constData());
    if (!address)
        return false;
    // dlsym also searches the libraries this one depends on; only its own exports count.
    Dl_info info;
    link_map* owner = nullptr;
    if (dladdr1(address, &info, reinterpret_cast<void**>(&owner), RTLD_DL_LINKMAP) == 0)
        return false;
    return owner == own;
}

std::optional<bool> file_exports(const QString& path, const QByteArray& function)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const qint64 size = file.size();
    uchar* data = size > 0 ? file.map(0, size) : nullptr;
    if (!data)
        return std::nullopt;
    const auto exported =
        elf_exports(QByteArrayView(reinterpret_cast<const char*>(data), size), function);
    file.unmap(data);
    return exported;
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
    QFile cache(QStringLiteral("/etc/ld.so.cache"));
    if (cache.open(QIODevice::ReadOnly)) {
        const qint64 size = cache.size();
        if (uchar* data = size > 0 ? cache.map(0, size) : nullptr) {
            candidates << ld_cache_paths(QByteArrayView(reinterpret_cast<const char*>(data), size),
                                         QFile::encodeName(library));
            cache.unmap(data);
        } else {
            candidates << ld_cache_paths(cache.readAll(), QFile::encodeName(library));
        }
    }
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
