// Values registered by the host application.

#include "host.h"

#include <array>
#include <atomic>
#include <limits>
#include <mutex>

namespace lumora::host {

namespace {

// A colour is held in 64 bits so that "no value" has a representation of its own and one
// atomic load or store is the whole access.
constexpr std::int64_t no_value = std::numeric_limits<std::int64_t>::min();

std::array<std::atomic<std::int64_t>, 6> colors = {
    {{no_value}, {no_value}, {no_value}, {no_value}, {no_value}, {no_value}}};

std::mutex title_mutex;
std::optional<QString> title;

std::atomic<std::int64_t>* slot(color_variable variable)
{
    const auto index = static_cast<std::size_t>(variable);
    return index < colors.size() ? &colors[index] : nullptr;
}

} // namespace

void set_color(color_variable variable, std::optional<std::int32_t> value)
{
    if (auto* s = slot(variable))
        s->store(value ? std::int64_t{*value} : no_value, std::memory_order_relaxed);
}

std::optional<std::int32_t> color(color_variable variable)
{
    const auto* s = slot(variable);
    if (!s)
        return std::nullopt;
    const std::int64_t v = s->load(std::memory_order_relaxed);
    if (v == no_value)
        return std::nullopt;
    return static_cast<std::int32_t>(v);
}

void set_sys_ts(std::optional<QString> value)
{
    const std::lock_guard lock(title_mutex);
    title = std::move(value);
}

std::optional<QString> sys_ts()
{
    const std::lock_guard lock(title_mutex);
    return title;
}

} // namespace lumora::host
