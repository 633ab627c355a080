// Values registered by the host application.

#include "host.h"

#include <rt/ui/messagebox.h>

#include <array>
#include <atomic>
#include <limits>
#include <mutex>
#include <utility>

namespace lumora::host {

namespace {

// A colour is held in 64 bits so that "no value" has a representation of its own and one
// atomic load or store is the whole access.
constexpr std::int64_t no_value = std::numeric_limits<std::int64_t>::min();

std::array<std::atomic<std::int64_t>, 6> colors = {
    {{no_value}, {no_value}, {no_value}, {no_value}, {no_value}, {no_value}}};

std::mutex title_mutex;
std::optional<QString> title;

std::mutex handler_mutex;
messagebox_handler installed_handler;

static_assert(int(message_icon::information) == int(rt::icon::information) &&
              int(message_icon::stop) == int(rt::icon::stop) &&
              int(message_icon::exclamation) == int(rt::icon::exclamation) &&
              int(message_icon::question) == int(rt::icon::question));
static_assert(int(message_buttons::ok) == int(rt::buttons::ok) &&
              int(message_buttons::yes_no) == int(rt::buttons::yes_no));

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

messagebox_handler set_messagebox_handler(messagebox_handler handler)
{
    const std::lock_guard lock(handler_mutex);
    if (handler) {
        rt::set_messagebox_handler([handler](const rt::message& m) {
            return handler(message{m.title, m.text, static_cast<message_icon>(m.icon),
                                   static_cast<message_buttons>(m.buttons)});
        });
    } else {
        rt::set_messagebox_handler({});
    }
    return std::exchange(installed_handler, std::move(handler));
}

} // namespace lumora::host
