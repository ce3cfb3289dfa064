// The settings word through the real store of this platform: a temporary
// folder store on Linux, the registry of the test's Wine prefix on Windows.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>

#include "clock/time_code_clock.h"
#include "platform/settings_store.h"
#include "tests/support/settings_sandbox.h"

namespace {

class ReaderSettings : public ::testing::Test {
 protected:
  void SetUp() override { settings_sandbox::Reset(); }

  // Port, system time, PAL, the word and its low half.
  static auto Loaded(const CTimeCodeClock& clock) {
    return std::make_tuple(clock.m_comPort, clock.m_useSystemTime,
                           clock.m_isPal, clock.m_settingsWord,
                           clock.m_settingsLow);
  }
  static void ExpectDefaults(const CTimeCodeClock& clock) {
    EXPECT_EQ(Loaded(clock), std::make_tuple(1, 0, 0, 0u, 0u));
  }
};

// The word as saved and as read back: port and flags in their bits, every
// bit it does not own (31, 28, 16-23 and the low half) carried over, port 7
// kept although it opens COM1, and port 16 written as 0, which reads back as
// COM1.
TEST_F(ReaderSettings, SavedWordsReadBack) {
  const struct {
    std::uint32_t stored;
    int port, systemTime, pal;
    std::uint32_t saved;
    int portAfter;
  } rows[] = {
      {0xB7AB1234, 7, 1, 0, 0xD7AB1234, 7},
      {0x00000000, 16, 0, 1, 0x20000000, 1},
      {0x00000000, 2, 1, 1, 0x62000000, 2},
      {0x00000000, 15, 0, 0, 0x0F000000, 15},
  };
  for (const auto& row : rows) {
    ASSERT_TRUE(settings_sandbox::StoreWord(row.stored));
    {
      CTimeCodeClock clock;
      clock.m_comPort = row.port;
      clock.m_useSystemTime = row.systemTime;
      clock.m_isPal = row.pal;
      EXPECT_EQ(clock.SaveSettings(), 1);
    }
    EXPECT_EQ(settings_sandbox::StoredWord(), row.saved);
    CTimeCodeClock reloaded;
    EXPECT_EQ(Loaded(reloaded),
              std::make_tuple(row.portAfter, row.systemTime, row.pal, row.saved,
                              row.saved & 0xFFFF));
  }
}

// No key gives the defaults and creates the key; so do values that are no
// word, which stay as the administrator wrote them.
TEST_F(ReaderSettings, NoKeyOrNoWordGivesTheDefaults) {
  EXPECT_FALSE(settings_sandbox::KeyExists());
  CTimeCodeClock reloaded;
  ExpectDefaults(reloaded);
  EXPECT_TRUE(settings_sandbox::KeyExists());
  const char* const values[] = {"", "not a number", "0x123456789",
                                "12345678901234567890123456789012345678"};
  for (const char* value : values) {
    const auto size = static_cast<std::uint32_t>(std::strlen(value));
    settings_sandbox::PutRawValue(value, size);
    // A reload forgets what the last load or the owner put there.
    reloaded.m_comPort = 3;
    reloaded.m_isPal = reloaded.m_useSystemTime = 1;
    reloaded.m_settingsWord = reloaded.m_settingsLow = 0x1234;
    reloaded.LoadSettings();
    ExpectDefaults(reloaded);
    // Loading must not have replaced what the administrator wrote.
    EXPECT_EQ(settings_sandbox::RawValue(), std::string(value, size));
  }
}

}  // namespace
