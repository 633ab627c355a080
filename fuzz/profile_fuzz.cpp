// libFuzzer target for the INI reader and writer behind rt::profile_string and
// rt::set_profile_string.

#include <rt/value/profile_p.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using rt::detail::ini_document;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView input(data, static_cast<qsizetype>(size));
    ini_document doc = ini_document::parse(input);

    // Lines are kept byte for byte: a file that is only read is written back unchanged.
    if (doc.bytes() != input)
        std::abort();

    const std::optional<QString> other = doc.value(QStringLiteral("db"), QStringLiteral("user"));
    (void)doc.value(QStringLiteral("qorv"), QStringLiteral("ver"));

    // Setting a value always succeeds for ASCII text and reads back from the written bytes,
    // without disturbing a key of another section.
    if (!doc.set(QStringLiteral("qorv"), QStringLiteral("ver"), QStringLiteral("\"1.3\"")))
        std::abort();
    const ini_document again = ini_document::parse(doc.bytes());
    if (again.value(QStringLiteral("QORV"), QStringLiteral("Ver")) != QStringLiteral("1.3"))
        std::abort();
    if (again.value(QStringLiteral("db"), QStringLiteral("user")) != other)
        std::abort();
    return 0;
}
