// Shared by the lumora fuzz targets: the input split into an encoding code, a small number and
// a text of UTF-16 units.
#pragma once

#include <lumora/text/encoding.h>

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace lumora_fuzz {

struct input {
    lumora::encoding code = lumora::encoding::ansi;
    std::uint16_t number = 0;
    QString text;
};

inline input split(const std::uint8_t* data, std::size_t size)
{
    input in;
    if (size >= 1)
        in.code = static_cast<lumora::encoding>(data[0] % 4);
    if (size >= 3)
        in.number = static_cast<std::uint16_t>(data[1] | (data[2] << 8));
    if (size > 3) {
        const std::size_t units = (size - 3) / 2;
        in.text.resize(static_cast<qsizetype>(units));
        std::memcpy(in.text.data(), data + 3, units * 2);
    }
    return in;
}

/// No lone surrogate and no U+0000: a text that every Unicode encoding carries unchanged.
inline bool well_formed(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isNull())
            return false;
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            return false;
    }
    return true;
}

} // namespace lumora_fuzz
