// Test seam of the beeps: a test counts the service's beeps through a hook
// instead of hearing them. Only tests include this.
#pragma once

#include <cstdint>

namespace platform {

using BeepHook = void (*)(std::uint32_t type);
// nullptr restores the sound.
void UseBeepHook(BeepHook hook);

}  // namespace platform
