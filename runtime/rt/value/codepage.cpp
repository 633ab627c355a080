#include <rt/value/codepage.h>

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>

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
    return encode(text, ansi_codepage());
}

QString from_ansi(QByteArrayView bytes)
{
    return decode(bytes, ansi_codepage());
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
