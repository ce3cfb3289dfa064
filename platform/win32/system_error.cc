#include "platform/system_error.h"

#include <windows.h>

#include <cstring>

namespace platform {

std::uint32_t GetLastError() { return ::GetLastError(); }

void SetLastError(std::uint32_t error) { ::SetLastError(error); }

std::uint32_t FormatSystemMessage(std::uint32_t error, char* text,
                                  std::uint32_t size) {
  if (size == 0) return 0;
  text[0] = '\0';
  const DWORD savedError = ::GetLastError();
  char* message = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_ARGUMENT_ARRAY,
      nullptr, error, 0, reinterpret_cast<char*>(&message), 0, nullptr);
  std::uint32_t copied = 0;
  if (length != 0 && message != nullptr && length + 1 <= size) {
    std::memcpy(text, message, length + 1);
    copied = length;
  }
  if (message != nullptr) LocalFree(message);
  ::SetLastError(savedError);
  return copied;
}

}  // namespace platform
