// The calling thread's last error, as the Win32 GetLastError gives it. On
// Linux it is the thread's errno, which every platform call of ours leaves
// set on failure.
#pragma once

#include <cstdint>

namespace platform {

std::uint32_t GetLastError();
void SetLastError(std::uint32_t error);

// The system's text for an error, as FormatMessage gives it: ending in a
// carriage return and line feed. Returns the text's length, or 0 (and an
// empty `text`) when the system has none or it does not fit in `size`.
std::uint32_t FormatSystemMessage(std::uint32_t error, char* text,
                                  std::uint32_t size);

}  // namespace platform
