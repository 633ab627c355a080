#include <rt/ui/window_messages.h>

#include <rt/ui/handles.h>

namespace rt {

lresult send_message(handle hwnd, std::uint32_t message, wparam w, lparam l)
{
    message_target* target = target_from_handle(hwnd);
    return target == nullptr ? 0 : target->window_proc(message, w, l);
}

} // namespace rt
