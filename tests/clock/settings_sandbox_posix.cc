#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "clock/time_code_clock.h"
#include "platform/settings_store.h"
#include "tests/clock/settings_sandbox.h"

namespace settings_sandbox {
namespace {

std::string KeyFolder() {
  std::string folder = platform::SettingsRoot();
  for (const char* p = kSettingsKeyPath; *p; ++p) {
    if (p == kSettingsKeyPath) folder += '/';
    folder += *p == '\\' ? '/' : *p;
  }
  return folder;
}

}  // namespace

void Reset() {
  char root[] = "/tmp/quorvel-settings-XXXXXX";
  if (mkdtemp(root) == nullptr) std::abort();
  setenv("CONFIGURATION_DIRECTORY", root, 1);
}

bool KeyExists() {
  struct stat info;
  return stat(KeyFolder().c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void PutRawValue(const void* data, std::uint32_t size) {
  platform::SettingsKey key;
  if (!platform::OpenSettingsKey(kSettingsKeyPath, &key)) std::abort();
  platform::CloseSettingsKey(key);
  FILE* file =
      std::fopen((KeyFolder() + "/" + kSettingsValueName).c_str(), "wb");
  std::fwrite(data, 1, size, file);
  std::fclose(file);
}

std::string RawValue() {
  std::string bytes;
  FILE* file =
      std::fopen((KeyFolder() + "/" + kSettingsValueName).c_str(), "rb");
  if (file == nullptr) return "<missing>";
  for (int c; (c = std::fgetc(file)) != EOF;) bytes += static_cast<char>(c);
  std::fclose(file);
  return bytes;
}

}  // namespace settings_sandbox
