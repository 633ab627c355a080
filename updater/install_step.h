#pragma once

// The steps of an install that change the disk, observable by tests.

namespace qorv::detail {

/// Called at every step of an install that changes the disk, with the step's name. For tests
/// that stop the program at a chosen step; null (and then never called) in the program.
using step_hook = void (*)(const char* step);
void set_step_hook(step_hook hook);

/// Reports the step `name` to the hook, if one is set.
void step(const char* name);

} // namespace qorv::detail
