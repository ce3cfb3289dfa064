#include "platform/beep.h"

#include <windows.h>

namespace platform {

void SystemMessageBeep(std::uint32_t type) {
  const DWORD savedError = ::GetLastError();
  ::MessageBeep(type);
  ::SetLastError(savedError);
}

}  // namespace platform
