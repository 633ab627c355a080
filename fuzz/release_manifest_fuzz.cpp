// libFuzzer target for release manifests read from the update server: any bytes are either a
// manifest whose canonical text is exactly those bytes, or refused with a reason.

#include "release_manifest.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QString why;
    const auto m = qorv::release::manifest::parse(text, &why);
    if (m.has_value() == !why.isEmpty())
        std::abort();
    if (m && m->text() != text)
        std::abort();
    return 0;
}
