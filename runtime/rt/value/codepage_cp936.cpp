// Code page 936 by table: every character of the Basic Multilingual Plane but the surrogates,
// taken once from the converter.

#include <rt/value/codepage.h>
#include <rt/value/codepage_p.h>

#include <QChar>
#include <QString>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>

namespace rt::detail {

namespace {

/// The conversion is stateless, so a text converts character by character through this table
/// exactly as the converter would convert it whole.
class cp936_table {
public:
    /// The table, built on first use; nullptr when the converter's output has not the layout
    /// expected.
    static const cp936_table* get()
    {
        static const std::unique_ptr<cp936_table> table = build();
        return table.get();
    }

    /// Appends the bytes of `c` (not a surrogate); returns the new end.
    char* put(char16_t c, char* out) const
    {
        const std::uint16_t b = bytes_[c];
        if (b > 0xff)
            *out++ = static_cast<char>(b >> 8);
        *out++ = static_cast<char>(b & 0xff);
        return out;
    }

private:
    static std::unique_ptr<cp936_table> build()
    {
        QString all;
        all.reserve(0x10000);
        for (char32_t c = 0; c < 0x10000; ++c) {
            if (!QChar::isSurrogate(c))
                all.append(QChar(static_cast<char16_t>(c)));
        }
        const QByteArray bytes = encode(all, cp936_name);
        auto table = std::make_unique<cp936_table>();
        qsizetype i = 0;
        for (const QChar c : std::as_const(all)) {
            if (i >= bytes.size())
                return nullptr;
            const auto lead = static_cast<unsigned char>(bytes[i]);
            // Lead bytes 0x81 to 0xFE start a pair; every other byte stands alone.
            if (lead >= 0x81 && lead <= 0xfe && i + 1 < bytes.size()) {
                table->bytes_[c.unicode()] = static_cast<std::uint16_t>(
                    (lead << 8) | static_cast<unsigned char>(bytes[i + 1]));
                i += 2;
            } else {
                table->bytes_[c.unicode()] = lead;
                i += 1;
            }
        }
        if (i != bytes.size())
            return nullptr; // not the layout expected: the converter does every text itself
        return table;
    }

    std::array<std::uint16_t, 0x10000> bytes_{};
};

} // namespace

std::optional<QByteArray> cp936_by_table(QStringView text)
{
    const bool has_surrogate =
        std::any_of(text.begin(), text.end(), [](QChar c) { return c.isSurrogate(); });
    const cp936_table* table = has_surrogate ? nullptr : cp936_table::get();
    if (table == nullptr)
        return std::nullopt;
    QByteArray bytes(text.size() * 2, Qt::Uninitialized);
    char* end = bytes.data();
    for (const QChar c : text)
        end = table->put(c.unicode(), end);
    bytes.truncate(end - bytes.data());
    return bytes;
}

} // namespace rt::detail
