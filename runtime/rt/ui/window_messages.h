#pragma once

#include <rt/ui/handle.h>

#include <cstdint>

namespace rt {

/// The two message parameters and the reply, wide enough to carry a pointer (a buffer or a
/// structure the receiver reads or fills).
using wparam = std::uintptr_t;
using lparam = std::intptr_t;
using lresult = std::intptr_t;

/// Something that answers window messages: the window procedure of a widget. A widget keeps
/// the implementation in its private part and hands it to register_window(); the message
/// numbers and parameter layouts are those of the platform's controls, decoded into typed
/// calls inside the target.
class message_target {
public:
    /// Answers message `message` with its two parameters; unknown messages return 0.
    virtual lresult window_proc(std::uint32_t message, wparam w, lparam l) = 0;

protected:
    ~message_target() = default;
};

/// Sends a message to the window `hwnd` and returns its reply once the target has answered
/// (on the calling thread, like a direct call). A handle that names no living window, or a
/// window without a target, answers 0.
lresult send_message(handle hwnd, std::uint32_t message, wparam w, lparam l);

/// A pointer carried in a message parameter, and back.
template <typename T> lparam lparam_from(T* pointer)
{
    return reinterpret_cast<lparam>(pointer);
}
template <typename T> T* lparam_to(lparam l)
{
    return reinterpret_cast<T*>(l);
}

/// The low and high 16 bits of a 32-bit message value, and the two put together.
constexpr std::uint16_t low_word(std::uintptr_t value)
{
    return static_cast<std::uint16_t>(value & 0xffffu);
}
constexpr std::uint16_t high_word(std::uintptr_t value)
{
    return static_cast<std::uint16_t>((value >> 16) & 0xffffu);
}
constexpr std::uint32_t make_long(std::uint16_t low, std::uint16_t high)
{
    return static_cast<std::uint32_t>(low) | (static_cast<std::uint32_t>(high) << 16);
}

/// A rectangle as messages exchange it: four 32-bit fields in this order, pixels, right and
/// bottom being the first column and row outside.
struct rect32 {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};
static_assert(sizeof(rect32) == 16);

} // namespace rt
