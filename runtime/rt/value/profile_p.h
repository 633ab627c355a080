#pragma once

// The INI model behind profile.h, reachable by tests and the fuzz target.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

namespace rt::detail {

/// An INI file as lines. Every line keeps its bytes and its own terminator so that lines a write
/// does not touch are written back byte for byte, whatever their encoding or line ending.
class ini_document {
public:
    enum class encoding { utf8, utf8_bom, ansi, utf16le_bom };

    /// Reads the bytes of a file: UTF-16LE after its byte-order mark (FF FE), UTF-8 when they are
    /// valid UTF-8 (after an optional byte-order mark), otherwise the ANSI code page.
    static ini_document parse(QByteArrayView bytes);

    /// The value of `key` in `section` with blanks and one pair of enclosing double quotes
    /// removed; std::nullopt when the section or key is missing.
    std::optional<QString> value(const QString& section, const QString& key) const;

    /// Sets the value, adding the key or the section when missing. Returns false, changing
    /// nothing, when a name is empty or a name or the value cannot be written as one line
    /// (line breaks, "=" in a key, "]" in a section, characters the file's encoding lacks).
    bool set(const QString& section, const QString& key, const QString& value);

    /// The file's bytes, in the encoding it was read in.
    QByteArray bytes() const;

    encoding text_encoding() const { return encoding_; }

private:
    struct line {
        QByteArray raw; ///< without its terminator
        QByteArray eol; ///< "\r\n", "\n" or empty (last line without one), in the file's encoding
        QString text;   ///< raw decoded
    };

    /// Index of the header of the first section named `section`, or -1.
    qsizetype find_section(const QString& section) const;
    /// Index of the first line of `key` in the section whose header is at `header`, or -1.
    qsizetype find_key(qsizetype header, const QString& key) const;
    std::optional<QByteArray> encode(const QString& text) const;
    QString decode(QByteArrayView raw) const;
    QByteArray default_eol() const;
    /// Bytes per code unit: 2 in UTF-16, 1 otherwise.
    qsizetype unit() const { return encoding_ == encoding::utf16le_bom ? 2 : 1; }
    /// The code unit at unit index `i` of `raw`.
    char16_t unit_at(QByteArrayView raw, qsizetype i) const;

    QList<line> lines_;
    QByteArray tail_; ///< an odd byte at the end of a UTF-16 file
    encoding encoding_ = encoding::utf8;
};

} // namespace rt::detail
