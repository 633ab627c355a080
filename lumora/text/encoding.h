#pragma once

namespace lumora {

/// The text encodings of the runtime, by their codes: how the encoders and the MD5 object turn
/// characters into bytes. No byte-order mark is ever written or expected.
enum class encoding : int {
    ansi = 0,    ///< the ANSI code page: Windows code page 936 (GBK), 1 byte for ASCII, 2 for CJK
    utf16le = 1, ///< UTF-16, low byte first
    utf8 = 2,    ///< UTF-8
    utf16be = 3, ///< UTF-16, high byte first
};

} // namespace lumora
