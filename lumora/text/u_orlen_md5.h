#pragma once

#include <lumora/lumora_export.h>

#include <rt/value/decimal.h>

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace lumora {

/// MD5 digests (RFC 1321) of files, byte strings and texts, as 32 upper-case hexadecimal digits.
///
/// The object has no state; one instance serves any number of calls.
/// \code
/// QString digest;
/// u_orlen_md5().uf_md5string(QString(u"abc"), digest); // digest ==
/// "900150983CD24FB0D6963F7D28E17F72" \endcode
class LUMORA_EXPORT u_orlen_md5 {
public:
    /// The largest file uf_md5file() accepts: 1290 MiB.
    static constexpr std::uint64_t max_file_size = 1290ull * 1024 * 1024;

    /// Digests the regular file `ls_filename`, a name read as u_orlen_fun::createpath() reads it
    /// (backslashes for "/", a drive letter for the root: an ASCII letter and ":"). Returns "" and
    /// puts the digest into `ls_result`, or returns an error text and leaves `ls_result` empty. The
    /// checks, in their order: "不能是文件夹!" for a directory, "文件不存在!" for a missing file,
    /// "不是普通文件!" for a FIFO, socket or device (never opened, so the call cannot block),
    /// "FileLength:4294967295" when the length cannot be read, "文件内容不能为空:0" for an empty
    /// file, "最大支持:1,352,663,040" for a larger file than max_file_size, "CreateFile:-1" when
    /// the file cannot be opened, "ReadFile:" and the number of bytes read when reading fails or
    /// the file ends early, and "CloseHandle:false" appended when closing fails. Every text but the
    /// first three ends with CR LF. The file is always closed before the call returns.
    QString uf_md5file(const QString& ls_filename, QString& ls_result) const;

    /// Digests the bytes of `ls_string` into `ls_result`; always returns "".
    QString uf_md5string(const QByteArray& ls_string, QString& ls_result) const;
    /// Digests the UTF-8 bytes of `ls_string` (no byte-order mark) into `ls_result`; always
    /// returns "".
    QString uf_md5string(const QString& ls_string, QString& ls_result) const;

    /// Writes each byte of `lb_array` as two upper-case hexadecimal digits, high nibble first, to
    /// positions 2i and 2i + 1 of `lc_result` (which grows as needed; characters beyond keep their
    /// value). Returns the number of characters written, 2 per byte, as a 16-bit integer that wraps
    /// around past 32767.
    std::int16_t hexencode(const QByteArray& lb_array, QString& lc_result) const;

    /// The same as u_orlen_fun::decto().
    QString decto(const std::optional<rt::decimal>& ad_dec,
                  std::optional<std::uint16_t> aui_sys) const;
};

} // namespace lumora
