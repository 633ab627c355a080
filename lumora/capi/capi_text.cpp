// Texts across the C ABI: NUL-terminated UTF-8 in, UTF-8 in memory the caller frees out.

#include "capi_p.h"

#include <QStringDecoder>

#include <cstdlib>
#include <cstring>

namespace lumora::detail {

std::optional<QString> from_c(const char* text)
{
    if (!text)
        return std::nullopt;
    // QString::fromUtf8() would drop a leading U+FEFF as a byte-order mark; a text argument
    // crosses unchanged.
    return QStringDecoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless |
                                                      QStringConverter::Flag::ConvertInitialBom)
        .decode(QByteArrayView(text));
}

char* to_c(const std::optional<QString>& text)
{
    if (!text)
        return nullptr;
    // UTF-8 carries neither a U+0000 through a C text nor a lone surrogate; either would arrive
    // changed (cut short, or as "?"), so the result is refused instead.
    const QChar* units = text->constData();
    const qsizetype size = text->size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = units[i];
        if (c.isNull())
            throw text_with_nul();
        if (!c.isSurrogate())
            continue;
        if (c.isHighSurrogate() && i + 1 < size && units[i + 1].isLowSurrogate())
            ++i;
        else
            throw text_with_lone_surrogate();
    }
    const QByteArray utf8 = text->toUtf8();
    auto* out = static_cast<char*>(std::malloc(static_cast<std::size_t>(utf8.size()) + 1));
    if (!out)
        throw std::bad_alloc();
    std::memcpy(out, utf8.constData(), static_cast<std::size_t>(utf8.size()) + 1);
    return out;
}

} // namespace lumora::detail
