#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "clock/time_code_clock.h"
#include "config/linux_config.h"
#include "tests/support/settings_sandbox.h"

namespace settings_sandbox {
namespace {

std::string g_root;

void RemoveRoot() {
  if (g_root.empty()) return;
  std::error_code error;
  std::filesystem::remove_all(g_root, error);
  if (error) ADD_FAILURE() << g_root << ": " << error.message();
  g_root.clear();
}

std::string ValuePath() { return KeyFolder() + "/" + kSettingsValueName; }

class PrivateRoot : public ::testing::Environment {
 public:
  void SetUp() override { Reset(); }
  void TearDown() override { RemoveRoot(); }
};

const ::testing::Environment* const g_privateRoot =
    ::testing::AddGlobalTestEnvironment(new PrivateRoot);

}  // namespace

std::string KeyFolder() {
  std::string folder = config::SettingsRoot() + '/';
  for (const char* p = kSettingsKeyPath; *p; ++p)
    folder += *p == '\\' ? '/' : *p;
  return folder;
}

void Reset() {
  RemoveRoot();
  char root[] = "/tmp/quorvel-settings-XXXXXX";
  if (mkdtemp(root) == nullptr) std::abort();
  g_root = root;
  setenv("CONFIGURATION_DIRECTORY", root, 1);
}

void MapCom1(const std::string& target) {
  Reset();
  const std::string devices = g_root + "/dosdevices";
  if (mkdir(devices.c_str(), 0700) != 0 ||
      symlink(target.c_str(), (devices + "/com1").c_str()) != 0)
    std::abort();
}

bool KeyExists() { return std::filesystem::is_directory(KeyFolder()); }

void PutRawValue(const void* data, std::uint32_t size) {
  std::filesystem::create_directories(KeyFolder());
  std::ofstream(ValuePath(), std::ios::binary)
      .write(static_cast<const char*>(data), size);
}

std::string RawValue() {
  std::ifstream file(ValuePath(), std::ios::binary);
  if (!file) return "<missing>";
  return std::string(std::istreambuf_iterator<char>(file), {});
}

std::string BlockSaving(bool on) {
  if (on) {
    unlink(ValuePath().c_str());
    if (mkdir(ValuePath().c_str(), 0755) != 0) std::abort();
  } else {
    rmdir(ValuePath().c_str());
  }
  return "Is a directory";
}

}  // namespace settings_sandbox
