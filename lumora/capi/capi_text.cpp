// Texts across the C ABI: NUL-terminated UTF-8 in, UTF-8 in memory the caller frees out.

#include "capi_p.h"

#include <cstdlib>
#include <cstring>

namespace lumora::detail {

std::optional<QString> from_c(const char* text)
{
    if (!text)
        return std::nullopt;
    return QString::fromUtf8(text);
}

char* to_c(const std::optional<QString>& text)
{
    if (!text)
        return nullptr;
    if (text->contains(QChar(0)))
        throw text_with_nul();
    const QByteArray utf8 = text->toUtf8();
    auto* out = static_cast<char*>(std::malloc(static_cast<std::size_t>(utf8.size()) + 1));
    if (!out)
        throw std::bad_alloc();
    std::memcpy(out, utf8.constData(), static_cast<std::size_t>(utf8.size()) + 1);
    return out;
}

} // namespace lumora::detail
