#include "install_step.h"

namespace qorv::detail {

namespace {
step_hook current_hook = nullptr;
}

void set_step_hook(step_hook hook)
{
    current_hook = hook;
}

void step(const char* name)
{
    if (current_hook)
        current_hook(name);
}

} // namespace qorv::detail
