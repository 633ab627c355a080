#include "lmget.h"

#include "lmget_cipher.h"

#include <cstring>
#include <string>
#include <string_view>

namespace {

std::string_view view(const char* s)
{
    return s ? std::string_view(s) : std::string_view();
}

} // namespace

extern "C" char* lm_j_m(char* strkey, char* b)
{
    // The host copies the text out before its next call; one buffer per thread keeps concurrent
    // callers apart.
    thread_local std::string result;
    try {
        result = lmget::decrypt(view(strkey), view(b)).value_or(std::string());
    } catch (...) {
        result.clear();
    }
    return result.data();
}

extern "C" void lmdes(char* strkey, char* b)
{
    if (!b)
        return;
    try {
        const std::size_t capacity = std::strlen(b);
        std::string_view clear(b, capacity);
        while (!clear.empty() && clear.back() == ' ')
            clear.remove_suffix(1);
        const std::string stored = lmget::encrypt(view(strkey), clear);
        if (stored.size() > capacity)
            return;
        // stored.size() <= capacity, so the NUL lands at most on the old terminator.
        std::memcpy(b, stored.data(), stored.size());
        b[stored.size()] = '\0';
    } catch (...) {
        // Out of memory or no random bytes: b stays as it was.
    }
}
