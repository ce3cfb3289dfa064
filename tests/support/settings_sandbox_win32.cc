#include <windows.h>
// after windows.h
#include <sddl.h>

#include <cstdlib>
#include <string>

#include "clock/time_code_clock.h"
#include "tests/support/settings_sandbox.h"

namespace settings_sandbox {

void Reset() {
  BlockSaving(false);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingsKeyPath);
}

// Everyone may read the key; its owner may still change that.
std::string BlockSaving(bool on) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, nullptr, 0,
                      READ_CONTROL | WRITE_DAC, nullptr, &key,
                      nullptr) == ERROR_SUCCESS) {
    PSECURITY_DESCRIPTOR security = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(
            on ? "D:P(A;;KR;;;WD)" : "D:P(A;;KA;;;WD)", SDDL_REVISION_1,
            &security, nullptr)) {
      RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, security);
      LocalFree(security);
    }
    RegCloseKey(key);
  }
  char text[256] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, ERROR_ACCESS_DENIED, 0, text, sizeof text, nullptr);
  std::string reason = text;
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r'))
    reason.pop_back();
  return reason;
}

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
