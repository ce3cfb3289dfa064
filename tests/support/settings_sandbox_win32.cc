#include <windows.h>

#include <cstdlib>

#include "clock/time_code_clock.h"
#include "tests/support/settings_sandbox.h"

namespace settings_sandbox {

void Reset() { RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingsKeyPath); }

bool KeyExists() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

void PutRawValue(const void* data, std::uint32_t size) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, nullptr, 0,
                      KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
    std::abort();
  RegSetValueExA(key, kSettingsValueName, 0, REG_BINARY,
                 static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
}

std::string RawValue() {
  char bytes[256];
  DWORD size = sizeof bytes;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, kSettingsKeyPath, kSettingsValueName,
                   RRF_RT_ANY, nullptr, bytes, &size) != ERROR_SUCCESS)
    return "<missing>";
  return std::string(bytes, size);
}

}  // namespace settings_sandbox
