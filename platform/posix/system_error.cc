#include "platform/system_error.h"

#include <cerrno>
#include <cstring>

namespace platform {

std::uint32_t GetLastError() { return static_cast<std::uint32_t>(errno); }

void SetLastError(std::uint32_t error) { errno = static_cast<int>(error); }

std::uint32_t FormatSystemMessage(std::uint32_t error, char* text,
                                  std::uint32_t size) {
  if (size == 0) return 0;
  text[0] = '\0';
  char scratch[256];
  // The GNU strerror_r: returns the text, which may not be in `scratch`.
  const char* message =
      strerror_r(static_cast<int>(error), scratch, sizeof scratch);
  // glibc makes up "Unknown error N" for codes it has no text for; the
  // system has no message for those, as FormatMessage has none.
  if (message == nullptr || std::strncmp(message, "Unknown error", 13) == 0)
    return 0;
  const std::size_t length = std::strlen(message) + 2;  // with "\r\n"
  if (length + 1 > size) return 0;
  std::memcpy(text, message, length - 2);
  std::memcpy(text + length - 2, "\r\n", 3);
  return static_cast<std::uint32_t>(length);
}

}  // namespace platform
