#pragma once

#include <optional>
#include <string>
#include <string_view>

/// The settings cipher: how the connection settings of qorv.ini are stored.
///
/// A stored value is printable ASCII: the prefix "LM1:" followed by the base64 text (standard
/// alphabet, padded) of salt (16 bytes) | nonce (12 bytes) | ciphertext | tag (16 bytes).
/// The clear text is sealed with AES-256-GCM under a key derived from the key text with
/// PBKDF2-HMAC-SHA256 and the value's own random salt; the prefix is authenticated with it.
///
/// \code
/// std::string stored = lmget::encrypt("secret key", "sa");   // "LM1:..." (different every call)
/// lmget::decrypt("secret key", stored);                      // "sa"
/// lmget::decrypt("other key", stored);                       // std::nullopt
/// \endcode
namespace lmget {

/// The version prefix of every stored value.
inline constexpr std::string_view stored_prefix = "LM1:";

/// PBKDF2 iterations per value (see lmget_cipher.cpp for the choice).
inline constexpr int pbkdf2_iterations = 20000;

/// The longest stored text decrypt() looks at; settings are short, so anything longer is refused
/// before any work is done.
inline constexpr std::size_t max_stored_size = 64 * 1024;

/// Encrypts the bytes of `clear` (any bytes, usually text in the ANSI code page) with `key`.
/// Every call draws a new salt and nonce, so equal inputs give different stored texts.
/// Throws std::runtime_error only when the system's random source or OpenSSL fails.
std::string encrypt(std::string_view key, std::string_view clear);

/// The clear bytes of a value stored by encrypt() with the same key; std::nullopt when the text
/// is not such a value: wrong key, wrong prefix, invalid or non-canonical base64, truncated,
/// altered in any character, or longer than max_stored_size. Never throws.
std::optional<std::string> decrypt(std::string_view key, std::string_view stored) noexcept;

} // namespace lmget
