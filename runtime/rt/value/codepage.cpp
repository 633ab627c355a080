#include <rt/value/codepage.h>
#include <rt/value/codepage_p.h>

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>

namespace rt {

namespace {

struct converter_closer {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
using converter = std::unique_ptr<UConverter, converter_closer>;

converter open_converter(const char* icu_name)
{
    if (!icu_name || !*icu_name)
        return {};
    UErrorCode status = U_ZERO_ERROR;
    converter c(ucnv_open(icu_name, &status));
    if (U_FAILURE(status))
        return {};
    return c;
}

// Names handed out by ansi_codepage() stay valid for the life of the process, whatever later
// calls of set_ansi_codepage do, so they are interned and never freed.
const char* intern(const char* name)
{
    static std::mutex mutex;
    static std::set<std::string> names;
    const std::lock_guard lock(mutex);
    return names.insert(name).first->c_str();
}

constexpr qsizetype max_length = 0x0fffffff;

std::atomic<const char*> current_ansi{"windows-936-2000"};

// ICU substitutes U+001A for an illegal single byte in code pages whose substitution character
// is the control SUB; we promise U+FFFD for every invalid sequence.
void to_unicode_replacement(const void*, UConverterToUnicodeArgs* args, const char*, int32_t,
                            UConverterCallbackReason reason, UErrorCode* status)
{
    if (reason > UCNV_IRREGULAR)
        return;
    *status = U_ZERO_ERROR;
    const UChar replacement = 0xFFFD;
    ucnv_cbToUWriteUChars(args, &replacement, 1, 0, status);
}

// ICU's substitution callback silently drops default-ignorable characters (U+00AD, U+200B,
// U+FEFF, the variation selectors, ...) that the code page lacks; we promise '?' for every
// character it lacks, so every unmappable or illegal code point gets the substitution bytes.
void from_unicode_substitute(const void*, UConverterFromUnicodeArgs* args, const UChar*, int32_t,
                             UChar32, UConverterCallbackReason reason, UErrorCode* status)
{
    if (reason > UCNV_IRREGULAR)
        return;
    *status = U_ZERO_ERROR;
    ucnv_cbFromUWriteSub(args, 0, status);
}

/// 2 for a surrogate pair at `i`, otherwise 1: the code units of the character there.
qsizetype character_length(QStringView text, qsizetype i)
{
    return text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2 : 1;
}

/// The work of ansi_cut_length() and to_ansi_cut(); the bytes go to `out` when given.
qsizetype cut_ansi(QStringView text, qsizetype max_bytes, qsizetype max_chars, QByteArray* out)
{
    if (max_bytes < 1 || max_chars < 1)
        return 0;
    if (text.size() <= max_chars) {
        // Code units are never fewer than characters: when the whole text fits, take it at once.
        QByteArray all = to_ansi(text);
        if (all.size() <= max_bytes) {
            if (out != nullptr)
                *out = std::move(all);
            return text.size();
        }
    }
    qsizetype bytes = 0;
    qsizetype i = 0;
    for (qsizetype chars = 0; i < text.size() && chars < max_chars; ++chars) {
        const qsizetype n = character_length(text, i);
        const QByteArray one = to_ansi(text.mid(i, n));
        if (bytes + one.size() > max_bytes)
            break;
        bytes += one.size();
        if (out != nullptr)
            out->append(one);
        i += n;
    }
    return i;
}

} // namespace

const char* ansi_codepage()
{
    return current_ansi.load();
}

bool set_ansi_codepage(const char* icu_name)
{
    if (!open_converter(icu_name))
        return false;
    current_ansi.store(intern(icu_name));
    return true;
}

QByteArray to_ansi(QStringView text)
{
    if (text.isEmpty())
        return {};
    const char* name = ansi_codepage();
    if (std::strcmp(name, detail::cp936_name) == 0) {
        if (std::optional<QByteArray> bytes = detail::cp936_by_table(text))
            return *std::move(bytes);
    }
    return encode(text, name);
}

QString from_ansi(QByteArrayView bytes)
{
    return decode(bytes, ansi_codepage());
}

std::optional<QByteArray> to_ansi_lossless(QStringView text)
{
    QByteArray bytes = to_ansi(text);
    if (from_ansi(bytes) != text)
        return std::nullopt;
    return bytes;
}

QString ansi_missing_characters(QStringView text)
{
    QString missing;
    for (qsizetype i = 0, n = 0; i < text.size(); i += n) {
        n = character_length(text, i);
        const QStringView c = text.mid(i, n);
        if (from_ansi(to_ansi(c)) != c && !missing.contains(c))
            missing += c;
    }
    return missing;
}

qsizetype ansi_cut_length(QStringView text, qsizetype max_bytes, qsizetype max_chars)
{
    return cut_ansi(text, max_bytes, max_chars, nullptr);
}

QByteArray to_ansi_cut(QStringView text, qsizetype max_bytes, qsizetype max_chars)
{
    QByteArray bytes;
    cut_ansi(text, max_bytes, max_chars, &bytes);
    return bytes;
}

QByteArray encode(QStringView text, const char* icu_name)
{
    converter c = open_converter(icu_name);
    // ICU counts in 32-bit lengths; a text this long is no setting or file name.
    if (!c || text.isEmpty() || text.size() > max_length)
        return {};
    UErrorCode status = U_ZERO_ERROR;
    ucnv_setSubstChars(c.get(), "?", 1, &status);
    // A substitution character the code page cannot hold as one byte: keep ICU's own.
    status = U_ZERO_ERROR;
    ucnv_setFromUCallBack(c.get(), from_unicode_substitute, nullptr, nullptr, nullptr, &status);
    status = U_ZERO_ERROR;

    const auto* source = reinterpret_cast<const UChar*>(text.utf16());
    const auto length = static_cast<int32_t>(text.size());
    QByteArray out(
        static_cast<qsizetype>(UCNV_GET_MAX_BYTES_FOR_STRING(length, ucnv_getMaxCharSize(c.get()))),
        Qt::Uninitialized);
    const int32_t written = ucnv_fromUChars(c.get(), out.data(), static_cast<int32_t>(out.size()),
                                            source, length, &status);
    if (U_FAILURE(status))
        return {};
    out.truncate(written);
    return out;
}

QString decode(QByteArrayView bytes, const char* icu_name)
{
    converter c = open_converter(icu_name);
    if (!c || bytes.isEmpty() || bytes.size() > max_length)
        return {};
    UErrorCode status = U_ZERO_ERROR;
    ucnv_setToUCallBack(c.get(), to_unicode_replacement, nullptr, nullptr, nullptr, &status);
    status = U_ZERO_ERROR;

    const auto length = static_cast<int32_t>(bytes.size());
    // Every byte gives at most two UTF-16 code units (a supplementary character).
    QString out(static_cast<qsizetype>(length) * 2, Qt::Uninitialized);
    const int32_t written =
        ucnv_toUChars(c.get(), reinterpret_cast<UChar*>(out.data()),
                      static_cast<int32_t>(out.size()), bytes.data(), length, &status);
    if (U_FAILURE(status))
        return {};
    out.truncate(written);
    return out;
}

} // namespace rt
