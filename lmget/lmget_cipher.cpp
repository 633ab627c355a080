#include "lmget_cipher.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <array>
#include <memory>
#include <stdexcept>

namespace lmget {

namespace {

// Iteration count: the key text is compiled into the program that decrypts, so stretching it
// guards little and mostly costs start-up time. The updater decrypts four values before it can
// connect; at 20,000 iterations one derivation takes about 10-25 ms on a modest machine (OpenSSL
// is not instrumented, so a sanitizer build costs the same), keeping all four well under 0.1 s
// while still making a brute-force search over guessed keys expensive.
static_assert(pbkdf2_iterations >= 10000 && pbkdf2_iterations <= 100000);

constexpr std::size_t salt_size = 16;
constexpr std::size_t nonce_size = 12;
constexpr std::size_t tag_size = 16;
constexpr std::size_t key_size = 32;

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

struct ctx_deleter {
    void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
using cipher_ctx = std::unique_ptr<EVP_CIPHER_CTX, ctx_deleter>;

/// The derived key, wiped when it goes out of scope.
struct derived_key {
    std::array<unsigned char, key_size> bytes{};
    ~derived_key() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
};

bool derive(std::string_view key, const unsigned char* salt, derived_key& out)
{
    return PKCS5_PBKDF2_HMAC(key.data(), static_cast<int>(key.size()), salt, salt_size,
                             pbkdf2_iterations, EVP_sha256(), key_size, out.bytes.data()) == 1;
}

const auto* as_bytes(std::string_view s)
{
    return reinterpret_cast<const unsigned char*>(s.data());
}

std::string base64_encode(const std::string& bytes)
{
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    auto byte = [&](std::size_t at) { return static_cast<unsigned char>(bytes[at]); };
    for (; i + 3 <= bytes.size(); i += 3) {
        const unsigned v = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
        out += {alphabet[v >> 18], alphabet[v >> 12 & 63], alphabet[v >> 6 & 63], alphabet[v & 63]};
    }
    if (const std::size_t rest = bytes.size() - i; rest == 1) {
        const unsigned v = byte(i) << 16;
        out += {alphabet[v >> 18], alphabet[v >> 12 & 63], '=', '='};
    } else if (rest == 2) {
        const unsigned v = byte(i) << 16 | byte(i + 1) << 8;
        out += {alphabet[v >> 18], alphabet[v >> 12 & 63], alphabet[v >> 6 & 63], '='};
    }
    return out;
}

int base64_value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

/// Strict decoding: padded, no blanks, and unused bits of the last group must be zero. Accepting
/// the non-canonical spellings would let a changed character decode to the same bytes.
std::optional<std::string> base64_decode(std::string_view text)
{
    if (text.empty() || text.size() % 4 != 0)
        return std::nullopt;
    std::size_t padding = 0;
    if (text.back() == '=')
        padding = text[text.size() - 2] == '=' ? 2 : 1;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const std::size_t digits = last ? 4 - padding : 4;
        unsigned v = 0;
        for (std::size_t j = 0; j < 4; ++j) {
            int d = 0;
            if (j < digits) {
                d = base64_value(text[i + j]);
                if (d < 0)
                    return std::nullopt;
            } else if (text[i + j] != '=') {
                return std::nullopt;
            }
            v = v << 6 | static_cast<unsigned>(d);
        }
        if (digits == 2 && (v & 0xFFFF) != 0)
            return std::nullopt;
        if (digits == 3 && (v & 0xFF) != 0)
            return std::nullopt;
        out.push_back(static_cast<char>(v >> 16));
        if (digits >= 3)
            out.push_back(static_cast<char>(v >> 8 & 0xFF));
        if (digits == 4)
            out.push_back(static_cast<char>(v & 0xFF));
    }
    return out;
}

} // namespace

std::string encrypt(std::string_view key, std::string_view clear)
{
    std::string sealed(salt_size + nonce_size + clear.size() + tag_size, '\0');
    auto* salt = reinterpret_cast<unsigned char*>(sealed.data());
    unsigned char* nonce = salt + salt_size;
    unsigned char* body = nonce + nonce_size;
    unsigned char* tag = body + clear.size();
    if (RAND_bytes(salt, salt_size + nonce_size) != 1)
        throw std::runtime_error("no random bytes for the settings cipher");

    derived_key k;
    cipher_ctx ctx(EVP_CIPHER_CTX_new());
    int length = 0;
    if (!derive(key, salt, k) || !ctx ||
        EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, k.bytes.data(), nonce) != 1 ||
        EVP_EncryptUpdate(ctx.get(), nullptr, &length, as_bytes(stored_prefix),
                          static_cast<int>(stored_prefix.size())) != 1 ||
        EVP_EncryptUpdate(ctx.get(), body, &length, as_bytes(clear),
                          static_cast<int>(clear.size())) != 1 ||
        EVP_EncryptFinal_ex(ctx.get(), body + length, &length) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, tag_size, tag) != 1)
        throw std::runtime_error("the settings cipher failed");
    return std::string(stored_prefix) + base64_encode(sealed);
}

std::optional<std::string> decrypt(std::string_view key, std::string_view stored) noexcept
{
    try {
        if (stored.size() > max_stored_size || !stored.starts_with(stored_prefix))
            return std::nullopt;
        const std::optional<std::string> sealed =
            base64_decode(stored.substr(stored_prefix.size()));
        if (!sealed || sealed->size() < salt_size + nonce_size + tag_size)
            return std::nullopt;

        const auto* salt = reinterpret_cast<const unsigned char*>(sealed->data());
        const unsigned char* nonce = salt + salt_size;
        const unsigned char* body = nonce + nonce_size;
        const std::size_t body_size = sealed->size() - salt_size - nonce_size - tag_size;
        std::array<unsigned char, tag_size> tag{};
        std::copy_n(body + body_size, tag_size, tag.begin());

        derived_key k;
        cipher_ctx ctx(EVP_CIPHER_CTX_new());
        std::string clear(body_size, '\0');
        auto* out = reinterpret_cast<unsigned char*>(clear.data());
        int length = 0;
        if (!derive(key, salt, k) || !ctx ||
            EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, k.bytes.data(), nonce) != 1 ||
            EVP_DecryptUpdate(ctx.get(), nullptr, &length, as_bytes(stored_prefix),
                              static_cast<int>(stored_prefix.size())) != 1 ||
            EVP_DecryptUpdate(ctx.get(), out, &length, body, static_cast<int>(body_size)) != 1 ||
            EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, tag_size, tag.data()) != 1 ||
            EVP_DecryptFinal_ex(ctx.get(), out + length, &length) != 1) {
            OPENSSL_cleanse(clear.data(), clear.size());
            return std::nullopt;
        }
        return clear;
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace lmget
