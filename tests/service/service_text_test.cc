// The pure pieces of Ventrel: option matching, the error text, and what
// systemd and the journal are told (unit file, notifications, entries).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <utility>

#include "platform/event_log.h"
#include "platform/stop_event.h"
#include "platform/system_error.h"
#include "platform/systemd_notify.h"
#include "service/command_line.h"
#include "service/systemd_unit.h"

namespace {

TEST(VentrelOptionTest, MatchesWholeWordsAfterDashOrSlashIgnoringCase) {
  const std::pair<const char*, VentrelOption> rows[] = {
      {"-load", VentrelOption::kLoad},
      {"/Load", VentrelOption::kLoad},
      {"/UnLoad", VentrelOption::kUnload},
      {"-HELP", VentrelOption::kHelp},
      {"-Debug", VentrelOption::kDebug},
      {"-loadx", VentrelOption::kNone},
      {"-lo", VentrelOption::kNone},
      {"/", VentrelOption::kNone},
      {"load", VentrelOption::kNone},
      {"--load", VentrelOption::kNone},
      {"", VentrelOption::kNone},
      // Only A-Z fold: a byte above 0x7F never matches a letter.
      {"-lo\xC1"
       "d",
       VentrelOption::kNone},
  };
  for (const auto& [argument, option] : rows) {
    SCOPED_TRACE(argument);
    // Only the first argument counts.
    const char* argv[] = {"ventrel", argument, "-help"};
    EXPECT_EQ(ParseVentrelOption(3, argv), option);
  }
  const char* alone[] = {"ventrel", nullptr};  // as the system ends argv
  EXPECT_EQ(ParseVentrelOption(1, alone), VentrelOption::kNone);
}

// The system text plus 14 must fit; one byte less, or an error the system
// has no text for, and nothing is given.
TEST(DescribeLastErrorTest, SystemTextWithTheCodeInHexOrNothing) {
  char buffer[kErrorTextSize];
  platform::SetLastError(2);
  const std::string text = DescribeLastError(buffer, kErrorTextSize);
  ASSERT_GT(text.size(), std::strlen(" (0x2)"));
  EXPECT_EQ(text.substr(text.size() - 6), " (0x2)");
  EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);

  char message[512];
  const int length =
      static_cast<int>(platform::FormatSystemMessage(2, message, 512));
  ASSERT_GT(length, 2);
  for (const int size : {length + 13, length + 14}) {
    std::strcpy(buffer, "stale");
    platform::SetLastError(2);
    EXPECT_EQ(DescribeLastError(buffer, size)[0] == '\0', size == length + 13);
  }
  std::strcpy(buffer, "stale");
  platform::SetLastError(0x2FFFFFFF);
  EXPECT_STREQ(DescribeLastError(buffer, kErrorTextSize), "");
}

TEST(ServiceUnitTest, DescribesALeastPrivilegeNotifyServiceWithAQuotedPath) {
  const std::string unit = RenderUnit("/usr/local/bin/ventrel");
  const char* lines[] = {
      "\n[Service]\nType=notify\n",
      "\nExecStart=/usr/local/bin/ventrel\n",
      "\nDynamicUser=yes\n",
      "\nAmbientCapabilities=CAP_SYS_TIME\n",
      "\nCapabilityBoundingSet=CAP_SYS_TIME\n",
      "\nProtectSystem=strict\n",
      "\nDevicePolicy=closed\n",
  };
  for (const char* line : lines) {
    EXPECT_NE(unit.find(line), std::string::npos) << line;
  }
  // systemd restarts nothing on its own: the service manager's part on
  // Windows is only to start it at boot.
  EXPECT_EQ(unit.find("Restart="), std::string::npos);
  EXPECT_EQ(unit.find("User=root"), std::string::npos);

  // Program paths that systemd would split or expand are quoted.
  const std::pair<const char*, const char*> rows[] = {
      // path, word
      {"/opt/q/ventrel", "/opt/q/ventrel"},
      {"/opt/my tools/ventrel", "\"/opt/my tools/ventrel\""},
      {"/opt/100%/ventrel", "/opt/100%%/ventrel"},
      {"/opt/a\"b/v", "\"/opt/a\\\"b/v\""},
      {"/opt/a\\b/v", "\"/opt/a\\\\b/v\""},
      {"/opt/x;y/v", "\"/opt/x;y/v\""},
  };
  for (const auto& [path, word] : rows) {
    EXPECT_EQ(QuoteUnitPath(path), word) << path;
  }
}

TEST(NotifyMessageTest, CarriesStateCheckPointHintAndExitCode) {
  using platform::SERVICE_STATUS;
  const std::pair<SERVICE_STATUS, const char*> rows[] = {
      {{16, 2, 0, 0, 0, 1, 3000},
       "EXTEND_TIMEOUT_USEC=3000000\n"
       "STATUS=START_PENDING, check-point 1, wait hint 3000 ms"},
      {{16, 4, 1, 0, 0, 0, 0},
       "READY=1\nSTATUS=RUNNING, check-point 0, wait hint 0 ms"},
      {{16, 3, 1, 0, 0, 3, 1000},
       "STOPPING=1\nEXTEND_TIMEOUT_USEC=1000000\n"
       "STATUS=STOP_PENDING, check-point 3, wait hint 1000 ms"},
      {{16, 1, 1, 19, 0, 0, 0},
       "ERRNO=19\nEXIT_STATUS=19\n"
       "STATUS=STOPPED, check-point 0, wait hint 0 ms, exit code 19"},
  };
  for (const auto& [status, message] : rows) {
    EXPECT_EQ(platform::RenderNotifyMessage(status), message);
  }
}

TEST(JournalLineTest, OneErrorLineWithBothStrings) {
  // Both strings, the room for the line, and the line.
  const std::tuple<const char*, const char*, std::uint32_t, const char*>
      rows[] = {
          {"Svc error: 0", "started", 256, "<3>Svc error: 0: started\n"},
          {"Svc error: 5", "two\nlines\r", 256,
           "<3>Svc error: 5: two lines \n"},
          {"Svc error: 0", "cut", 12, "<3>Svc erro"},
          {"", "", 256, "<3>: \n"},
      };
  for (const auto& [first, second, size, expected] : rows) {
    char line[256];
    platform::FormatJournalLine(first, second, line, size);
    EXPECT_STREQ(line, expected);
  }
}

TEST(StopEventTest, StaysSignalledUntilClosedAndIgnoresUseWhenClosed) {
  platform::StopEvent event;
  event.Set();  // not created: nothing
  EXPECT_FALSE(event.Wait(0));
  ASSERT_TRUE(event.Create());
  EXPECT_FALSE(event.Wait(20));
  event.Set();
  EXPECT_TRUE(event.Wait(0));
  EXPECT_TRUE(event.Wait(0));  // manual reset
  event.Close();
  event.Set();
  EXPECT_FALSE(event.Wait(0));
  ASSERT_TRUE(event.Create());
  EXPECT_FALSE(event.Wait(0));  // a new life starts unsignalled
}

}  // namespace
