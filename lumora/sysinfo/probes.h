#pragma once

/// Probes of the operating system: whether a library exports a function, and whether the
/// system is a 64-bit one.

#include <lumora/lumora_export.h>

#include <QString>

#include <atomic>
#include <cstdint>
#include <optional>

namespace lumora {

/// Flag of the platform's library mapping: map a library without running its initialisation or
/// resolving its imports. Looking a function up never runs a library's code here either.
inline constexpr std::int32_t dont_resolve_dll_references = 0x00000001;
/// Processor architecture codes of the platform's system record (system_info).
inline constexpr std::int32_t processor_architecture_intel = 0;
inline constexpr std::int32_t processor_architecture_arm = 5;
inline constexpr std::int32_t processor_architecture_ia64 = 6;
inline constexpr std::int32_t processor_architecture_amd64 = 9;
inline constexpr std::int32_t processor_architecture_arm64 = 12;
inline constexpr std::int32_t processor_architecture_unknown = 0xffff;

/// Whether the last of_infoversion64bit() found a 64-bit system. False until then. Atomic: any
/// thread may read it while another asks again.
LUMORA_EXPORT extern std::atomic<bool> blniswin64bit;

/// Whether the shared library `ls_dllname` exports the function `ls_functionname`.
///
/// The library is named as the dynamic loader takes it: a file name such as "libm.so.6", or a
/// path (any name with a "/"). A library the process has loaded (found in the loader's link map
/// by its name or SONAME, a path also by being the same file) answers from its image in memory
/// and stays loaded. Any other library is found as the loader would find it (the directories of
/// LD_LIBRARY_PATH, the loader's cache /etc/ld.so.cache, then the system directories), skipping
/// files built for another machine, and answers from its file. Either way the lookup is the
/// loader's: through the dynamic segment and its hash table (a library without section headers
/// answers like any other), and thread-local variables count as exports as dlsym finds them.
/// Nothing is loaded, none of the library's code runs, and only regular files are ever opened: a
/// FIFO, device or directory of that name is passed over unopened. Only the library's own
/// exports count, not those of the libraries it depends on.
///
/// False for a null or empty name, a library that cannot be found or read, and a function it
/// does not export.
LUMORA_EXPORT bool of_apifunctionpresent(const std::optional<QString>& ls_functionname,
                                         const std::optional<QString>& ls_dllname);

/// "64bits" when the system's native processor architecture is x86-64 or Itanium, otherwise
/// "32bits" (other 64-bit architectures included). An x86-64 process answers "64bits" whatever
/// personality uname() reports (setarch i686). Sets blniswin64bit to the same answer; the
/// flag is false from the start of the call.
LUMORA_EXPORT QString of_infoversion64bit();

} // namespace lumora
