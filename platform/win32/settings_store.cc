// The settings word in the registry, below HKEY_LOCAL_MACHINE.
#include "platform/settings_store.h"

#include <windows.h>

namespace platform {

int OpenSettingsKey(const char* path, SettingsKey* key) {
  HKEY opened = nullptr;
  const LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr,
                                      REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                      nullptr, &opened, nullptr);
  // The registry calls return their error instead of setting the last
  // error; callers read it as the last error, as with every platform call.
  if (status != ERROR_SUCCESS) {
    ::SetLastError(static_cast<DWORD>(status));
    return 0;
  }
  *key = reinterpret_cast<SettingsKey>(opened);
  return 1;
}

int ReadSettingsValue(SettingsKey key, const char* name, void* data,
                      std::uint32_t* size) {
  DWORD length = *size;
  const LONG status =
      RegQueryValueExA(reinterpret_cast<HKEY>(key), name, nullptr, nullptr,
                       static_cast<BYTE*>(data), &length);
  if (status != ERROR_SUCCESS) return 0;
  *size = length;
  return 1;
}

int WriteSettingsDword(SettingsKey key, const char* name, std::uint32_t value) {
  const DWORD word = value;
  const LONG status =
      RegSetValueExA(reinterpret_cast<HKEY>(key), name, 0, REG_DWORD,
                     reinterpret_cast<const BYTE*>(&word), sizeof word);
  if (status != ERROR_SUCCESS) ::SetLastError(static_cast<DWORD>(status));
  return status == ERROR_SUCCESS ? 1 : 0;
}

void CloseSettingsKey(SettingsKey key) {
  RegCloseKey(reinterpret_cast<HKEY>(key));
}

}  // namespace platform
