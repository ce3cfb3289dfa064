// What a crash or a missing right does to the folder store.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "clock/time_code_clock.h"
#include "config/linux_config.h"
#include "platform/posix/settings_store_test_seam.h"
#include "platform/settings_store.h"
#include "tests/support/settings_sandbox.h"

namespace {

platform::SaveStep g_crashAt;

[[noreturn]] void Crash() { _exit(42); }

void CrashAtChosenStep(platform::SaveStep step) {
  if (step == g_crashAt) Crash();
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

std::uint32_t LoadedWord() {
  CTimeCodeClock clock;
  return clock.m_settingsWord;
}

void SaveComTwoPal() {
  CTimeCodeClock clock;
  clock.m_comPort = 2;
  clock.m_isPal = 1;
  clock.SaveSettings();
}

TEST(FolderStore, ACrashAtAnyStepOfASaveLeavesTheOldWordOrTheNew) {
  const platform::SaveStep steps[] = {
      platform::SaveStep::kTempCreated, platform::SaveStep::kTempWritten,
      platform::SaveStep::kTempSynced, platform::SaveStep::kRenamed};
  for (const platform::SaveStep step : steps) {
    settings_sandbox::Reset();
    {
      CTimeCodeClock clock;
      clock.m_comPort = 3;
      ASSERT_EQ(clock.SaveSettings(), 1);
    }
    const std::uint32_t oldWord = LoadedWord();
    g_crashAt = step;
    ASSERT_EQ(RunInChild([] {
                platform::SetSaveStepHook(CrashAtChosenStep);
                SaveComTwoPal();
              }),
              42);
    const std::uint32_t after = LoadedWord();
    EXPECT_TRUE(after == oldWord || after == 0x22000000u)
        << "step " << static_cast<int>(step) << " left " << std::hex << after;
    EXPECT_EQ(after,
              step == platform::SaveStep::kRenamed ? 0x22000000u : oldWord);
  }
}

TEST(FolderStore, ReadOnlyKeyLoadsButDoesNotSave) {
  settings_sandbox::Reset();
  {
    CTimeCodeClock clock;
    clock.m_comPort = 4;
    ASSERT_EQ(clock.SaveSettings(), 1);
  }
  // A service account reads a folder its administrator owns.
  const std::string root = config::SettingsRoot();
  ASSERT_EQ(chmod(root.c_str(), 0755), 0);
  const int result = RunInChild([] {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
    CTimeCodeClock clock;
    if (clock.m_comPort != 4) _exit(4);
    clock.m_comPort = 2;
    if (clock.SaveSettings() != 0) _exit(5);
    _exit(0);
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(LoadedWord(), 0x04000000u);
}

TEST(FolderStore, KeyPathsCannotLeaveTheRoot) {
  settings_sandbox::Reset();
  platform::SettingsKey key;
  EXPECT_FALSE(platform::OpenSettingsKey("SYSTEM\\..\\..\\etc", &key));
  EXPECT_FALSE(platform::OpenSettingsKey("", &key));
  EXPECT_FALSE(platform::OpenSettingsKey("A\\\\B", &key));
}

}  // namespace
