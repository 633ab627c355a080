// Library files and the loader's cache are read without trusting them: any bytes give an answer
// (or none) without reading outside the input.

#include <lumora/sysinfo/sysinfo_p.h>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The first byte picks the symbol name looked for, so that matching paths are reached too.
    static const char* const names[] = {"printf", "malloc", "", "a", "GLIBC_2.2.5", "_init"};
    const char* name = size ? names[data[0] % (sizeof names / sizeof *names)] : "printf";
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    (void)lumora::detail::elf_compatible(bytes);
    (void)lumora::detail::elf_exports(bytes, name);
    (void)lumora::detail::ld_cache_paths(bytes, "libc.so.6");
    (void)lumora::detail::ld_cache_paths(bytes, name);
    return 0;
}
