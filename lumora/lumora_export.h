#pragma once

/// LUMORA_EXPORT marks what liblumora.so exports; everything else is hidden. Usable from C.
#if defined(_WIN32)
#if defined(LUMORA_BUILDING)
#define LUMORA_EXPORT __declspec(dllexport)
#else
#define LUMORA_EXPORT __declspec(dllimport)
#endif
#else
#define LUMORA_EXPORT __attribute__((visibility("default")))
#endif
