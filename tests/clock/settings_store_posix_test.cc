// What a crash or a missing right does to the folder store.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>

#include "clock/time_code_clock.h"
#include "config/linux_config.h"
#include "platform/posix/settings_store_test_seam.h"
#include "platform/settings_store.h"
#include "tests/support/settings_sandbox.h"

namespace {

platform::SaveStep g_crashAt;

void CrashAtChosenStep(platform::SaveStep step) {
  if (step == g_crashAt) _exit(42);
}

int RunInChild(void (*body)()) {
  const pid_t child = fork();
  if (child == 0) {
    body();
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(FolderStore, ACrashAtAnyStepOfASaveLeavesTheOldWordOrTheNew) {
  const platform::SaveStep steps[] = {
      platform::SaveStep::kTempCreated, platform::SaveStep::kTempWritten,
      platform::SaveStep::kTempSynced, platform::SaveStep::kRenamed};
  for (const platform::SaveStep step : steps) {
    settings_sandbox::Reset();
    ASSERT_TRUE(settings_sandbox::StoreWord(0x03000000u));
    g_crashAt = step;
    ASSERT_EQ(RunInChild([] {
                platform::SetSaveStepHook(CrashAtChosenStep);
                CTimeCodeClock clock;
                clock.m_comPort = 2;
                clock.m_isPal = 1;
                clock.SaveSettings();
              }),
              42);
    EXPECT_EQ(settings_sandbox::StoredWord(),
              step == platform::SaveStep::kRenamed ? 0x22000000u : 0x03000000u)
        << "step " << static_cast<int>(step);
  }
}

TEST(FolderStore, ReadOnlyKeyLoadsButDoesNotSave) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to read as another account";
  settings_sandbox::Reset();
  ASSERT_TRUE(settings_sandbox::StoreWord(0x04000000u));
  // A service account reads a folder its administrator owns.
  const std::string root = config::SettingsRoot();
  ASSERT_EQ(chmod(root.c_str(), 0755), 0);
  const int result = RunInChild([] {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
    CTimeCodeClock clock;
    if (clock.m_comPort != 4) _exit(4);
    clock.m_comPort = 2;
    if (clock.SaveSettings() != 0) _exit(5);
    _exit(0);
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(settings_sandbox::StoredWord(), 0x04000000u);
}

// A key path that would leave the root, or a store out of reach, takes no
// save, and a save that found no store is not reported as made.
TEST(FolderStore, KeysStayInAReachableRoot) {
  settings_sandbox::Reset();
  platform::SettingsKey key;
  EXPECT_FALSE(platform::OpenSettingsKey("SYSTEM\\..\\..\\etc", &key));
  EXPECT_FALSE(platform::OpenSettingsKey("", &key));
  EXPECT_FALSE(platform::OpenSettingsKey("A\\\\B", &key));
  const std::string root = config::SettingsRoot();
  setenv("CONFIGURATION_DIRECTORY", "/dev/null/quorvel", 1);
  CTimeCodeClock clock;
  EXPECT_EQ(clock.SaveSettings(), 0);
  setenv("CONFIGURATION_DIRECTORY", root.c_str(), 1);
}

// A value file swapped for a link would let whoever owns its target choose
// the port; the store reads only the file itself. And a save that cannot
// take its place leaves no half-made file behind.
TEST(FolderStore, TheValueFileIsNotALinkNorLeftHalfMade) {
  settings_sandbox::Reset();
  ASSERT_TRUE(settings_sandbox::StoreWord(0x03000000u));
  const std::string value =
      settings_sandbox::KeyFolder() + "/" + kSettingsValueName;
  const std::string target = config::SettingsRoot() + "/elsewhere";
  std::filesystem::rename(value, target);
  std::filesystem::create_symlink(target, value);
  EXPECT_EQ(settings_sandbox::StoredWord(), 0xDEADBEEFu);
  std::filesystem::remove(value);
  std::filesystem::create_directory(value);  // the rename onto it fails
  EXPECT_FALSE(settings_sandbox::StoreWord(0x04000000u));
  const std::filesystem::directory_iterator entries(
      settings_sandbox::KeyFolder());
  EXPECT_EQ(std::distance(begin(entries), end(entries)), 1);
}

// COMn is the device that dosdevices/comN names, else the n-th serial port.
TEST(FolderStore, PortNumbersNameDevices) {
  settings_sandbox::Reset();
  EXPECT_EQ(config::PortDevicePath(1), "/dev/ttyS0");
  EXPECT_EQ(config::PortDevicePath(4), "/dev/ttyS3");
  settings_sandbox::MapCom1("/dev/null");
  EXPECT_EQ(config::PortDevicePath(1),
            config::SettingsRoot() + "/dosdevices/com1");
  EXPECT_EQ(config::PortDevicePath(2), "/dev/ttyS1");
}

}  // namespace
