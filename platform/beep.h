// The beeps that the service gives: the simple beep (0xFFFFFFFF) and the
// default sound (kDefaultBeep, 0). On Linux they are the terminal's bell, given
// only when standard output is a terminal, so nothing reaches the journal.
#pragma once

#include <cstdint>

namespace platform {

inline constexpr std::uint32_t kSimpleBeep = 0xFFFFFFFF;
inline constexpr std::uint32_t kDefaultBeep = 0;

void MessageBeep(std::uint32_t type);
// The system's own sound, whatever hook is installed.
void SystemMessageBeep(std::uint32_t type);

}  // namespace platform
