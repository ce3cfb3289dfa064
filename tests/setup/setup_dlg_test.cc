// The main dialog over the fake window system, with the real engine talking
// to a fake box on a fake clock.
#include <gtest/gtest.h>

#include <string>

#include "clock/time_code_clock.h"
#include "platform/settings_store.h"
#include "setup/setup_app.h"
#include "setup/setup_dlg.h"
#include "tests/setup/fake_window_system.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_serial.h"
#include "tests/support/settings_sandbox.h"

namespace {

using namespace setup::control;
using fakes::FakeDialog;
using fakes::FakeWindowSystem;
using setup::CSetupDlg;

constexpr std::uint32_t kPalBit = 0x20000000;
constexpr std::uint32_t kSystemTimeBit = 0x40000000;
constexpr char kConnectFailed[] =
    "Communications Error: Serial port not opened or serial time code device "
    "\nis missing or malfunctioning at selected settings. (16)";

class SetupDialogTest : public ::testing::Test {
 protected:
  SetupDialogTest() : m_box(m_clock) {
    settings_sandbox::Reset();
    SetUserNoticeHandler(&setup::ShowUserNotice);
  }
  ~SetupDialogTest() override { SetUserNoticeHandler(nullptr); }

  // Builds the dialog (which loads the settings word) and runs it modally
  // with `script` as the person at the screen.
  void Run(std::uint32_t settingsWord,
           const std::function<void(CSetupDlg&)>& script) {
    ASSERT_TRUE(settings_sandbox::StoreWord(settingsWord));
    CSetupDlg dialog(nullptr);
    m_windows.OnModal(setup::kSetupDialogId,
                      [&](FakeDialog&) { script(dialog); });
    dialog.DoModal();
  }
  void Run(const std::function<void(CSetupDlg&)>& script) { Run(0, script); }

  void Start() { ASSERT_TRUE(m_windows.Click(kTestRun)); }
  // Each tick comes a timer period after the previous one's work.
  void Ticks(int count) {
    for (int i = 0; i < count; ++i) {
      m_clock.Advance(setup::kPollIntervalMs);
      ASSERT_TRUE(m_windows.Tick());
    }
  }
  std::string Text(int id) { return m_windows.Text(id); }
  // The dialog in one line: its two boxes, whether TEST/RUN is in, whether
  // Set PC Clock is enabled and checked, the poll timer's period (0: none),
  // and whether the test runs and lets the engine set the clock.
  std::string Screen(const CSetupDlg& dialog) {
    auto timer = m_windows.Current().timers.find(setup::kPollTimerId);
    return Text(kStatusBox) + " | " + Text(kTimeCodeBox) + " | run " +
           std::to_string(m_windows.Check(kTestRun)) + " pc " +
           std::to_string(m_windows.Enabled(kSetPcClock)) +
           std::to_string(m_windows.Check(kSetPcClock)) + " timer " +
           std::to_string(
               timer == m_windows.Current().timers.end() ? 0 : timer->second) +
           " running " + std::to_string(dialog.m_running) + " set " +
           std::to_string(dialog.m_clock.m_setClockEnabled);
  }

  fake::FakeClock m_clock;
  fakes::FakeSerial m_box;
  FakeWindowSystem m_windows;
};

// ---- start-up ----

// The About entry goes to the window menu only when there is both a menu and
// a text for it.
TEST_F(SetupDialogTest, ShowsTheSavedSettingsTheIconsTheMenuAndTheIdleState) {
  struct Case {
    std::uint32_t word;
    int port, standard, time;
    bool menu, text, entryShown;  // a window menu, a text for the entry
  };
  const Case cases[] = {
      {0x00000000, kCom1, kNtsc, kLocalTime, true, true, true},
      {0x02000000 | kPalBit, kCom2, kPal, kLocalTime, true, false, false},
      {0x03000000 | kSystemTimeBit, kCom3, kNtsc, kSystemTime, false, true,
       false},
      {0x04000000 | kPalBit | kSystemTimeBit, kCom4, kPal, kSystemTime, true,
       true, true},
      {0x0F000000, kCom1, kNtsc, kLocalTime, true, true, true},  // port 15
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.word);
    m_windows.m_hasSystemMenu = c.menu;
    m_windows.m_aboutString = c.text ? "&About Moravel..." : "";
    Run(c.word, [&](CSetupDlg& dialog) {
      for (int id : {kCom1, kCom2, kCom3, kCom4, kNtsc, kPal, kLocalTime,
                     kSystemTime, kTestRun, kBeepOnSet, kSetPcClock}) {
        const bool chosen = id == c.port || id == c.standard || id == c.time;
        EXPECT_EQ(m_windows.Check(id), chosen ? 1 : 0) << id;
      }
      EXPECT_EQ(Screen(dialog),
                "Serial Port Closed | Not Testing | run 0 pc 00 timer 0 "
                "running 0 set 0");
      FakeDialog& window = m_windows.Current();
      const std::vector<std::string> entry = {"-", "16:&About Moravel..."};
      EXPECT_EQ(window.systemMenu, c.entryShown ? entry : decltype(entry)());
      EXPECT_EQ(window.initResult, 1);
      void* appIcon = FakeWindowSystem::IconOf(setup::kAppIconId);
      EXPECT_EQ(window.bigIcon, appIcon);
      EXPECT_EQ(window.smallIcon, appIcon);
      std::intptr_t dragIcon = 0;
      window.events->Dispatch(setup::kMsgQueryDragIcon, 0, 0, &dragIcon);
      EXPECT_EQ(dragIcon, reinterpret_cast<std::intptr_t>(appIcon));
    });
  }
}

// ---- starting, ticking and stopping a test ----

// A port held by another program shows the lower layers' boxes, then the
// error (a silent box differs only in the lower layers, which leave out
// their own box); once the port is free the next start opens it. Each tick
// shows the time code and re-arms the timer; the status shows the link's
// text from the 21st tick on, counted across a stop and a start. A stop
// closes the port and keeps the code.
TEST_F(SetupDialogTest, StartsTicksAndStops) {
  const std::string running =
      "Com Port Open. Quorvel found | Initializing | run 1 pc 10 timer 150 "
      "running 1 set 0";
  m_box.failOpen = true;
  std::string statusDuringBoxes;
  m_windows.m_onMessageBox = [&] { statusDuringBoxes = Text(kStatusBox); };
  Run(0x02000000, [&](CSetupDlg& dialog) {
    Start();
    EXPECT_EQ(Screen(dialog),
              "Initialization Error! Check Settings | Initializing | run 0 "
              "pc 10 timer 0 running 0 set 0");
    EXPECT_FALSE(m_box.isOpen());
    // Set PC Clock can be checked but nothing uses it: a start clears it.
    EXPECT_TRUE(m_windows.Click(kSetPcClock));
    EXPECT_EQ(dialog.m_clock.m_setClockEnabled, 1);
    m_box.failOpen = false;
    Start();
    EXPECT_EQ(m_box.lastName, "COM2");
    EXPECT_EQ(Screen(dialog), running);
    const int starts = m_windows.Current().timerStarts;
    // Right after the connect the engine's history is empty, so the first
    // check cannot find a running code.
    Ticks(1);
    EXPECT_EQ(Text(kTimeCodeBox), "No_Time_Code");
    Ticks(2);
    const std::string lastCode = Text(kTimeCodeBox);
    ASSERT_EQ(lastCode.substr(0, 6), "12:00:");
    for (int enabled : {1, 0, 1}) {
      ASSERT_TRUE(m_windows.Click(kSetPcClock));
      EXPECT_EQ(dialog.m_clock.m_setClockEnabled, enabled);
    }
    ASSERT_TRUE(m_windows.Click(kTestRun));
    EXPECT_FALSE(m_box.isOpen());
    EXPECT_EQ(m_box.CountCalls("Close"), 1);
    EXPECT_EQ(Screen(dialog), "Serial Port Closed | " + lastCode +
                                  " | run 0 pc 00 timer 0 running 0 set 0");
    Start();
    EXPECT_EQ(Screen(dialog), running);
    Ticks(17);
    EXPECT_EQ(Text(kStatusBox), "Com Port Open. Quorvel found");
    EXPECT_EQ(m_windows.Current().timerStarts, starts + 21);
    Ticks(1);
    EXPECT_EQ(Text(kStatusBox), "BOX connected and responding.");
    // A box that stops answering shows at once in the code box and at the
    // next refresh in the status box; the test goes on.
    for (int i = 0; i < 30; ++i) m_box.Script(fakes::Reply::kSilent);
    Ticks(1);
    EXPECT_EQ(Text(kTimeCodeBox), "No_Time_Code");
    Ticks(19);
    EXPECT_EQ(Text(kStatusBox), "BOX connected and responding.");
    Ticks(1);
    EXPECT_EQ(Text(kStatusBox), "BOX NOT responding! LED ON? Cables?");
  });
  // The boxes come first, while the status still reads as before.
  EXPECT_EQ(statusDuringBoxes, "Serial Port Closed");
  EXPECT_EQ(m_windows.m_messageBoxes,
            (std::vector<std::string>{": Error opening COM port (0)",
                                      kConnectFailed}));
  // The engine sleeps 50 ms before it opens the port.
  EXPECT_EQ(m_clock.Sleeps().at(0), 50u);
}

// ---- the settings ----

// A click stores its choice at once, without stopping a running test; a new
// port is opened at the next start, and nothing is saved without SAVE. A
// SAVE that cannot write says why and leaves the dialog open; once the
// rights are there, the same choices save, without a word.
TEST_F(SetupDialogTest, RadioButtonsStoreTheirValueAtOnceAndSaveWritesThem) {
  struct Case {
    int id;
    std::int32_t CTimeCodeClock::*field;
    std::int32_t value;
  };
  const Case cases[] = {
      {kLocalTime, &CTimeCodeClock::m_useSystemTime, 0},
      {kSystemTime, &CTimeCodeClock::m_useSystemTime, 1},
      {kPal, &CTimeCodeClock::m_isPal, 1},
      {kNtsc, &CTimeCodeClock::m_isPal, 0},
      {kCom4, &CTimeCodeClock::m_comPort, 4},
      {kCom2, &CTimeCodeClock::m_comPort, 2},
      {kCom1, &CTimeCodeClock::m_comPort, 1},
      {kCom3, &CTimeCodeClock::m_comPort, 3},
  };
  const std::uint32_t word = 0x07000000 | kPalBit;
  std::string reason;
  Run(word, [&](CSetupDlg& dialog) {
    Start();
    for (const Case& c : cases) {
      dialog.m_clock.*c.field = 99;
      ASSERT_TRUE(m_windows.Click(c.id));
      EXPECT_EQ(dialog.m_clock.*c.field, c.value) << c.id;
    }
    Ticks(2);
    EXPECT_EQ(m_box.opens, 1);
    EXPECT_EQ(m_box.lastName, "COM1") << "port 7 has no name of its own";
    ASSERT_TRUE(m_windows.Click(kTestRun));
    Start();
    EXPECT_EQ(m_box.lastName, "COM3");
    EXPECT_EQ(settings_sandbox::StoredWord(), word);
    reason = settings_sandbox::BlockSaving(true);
    m_windows.Click(kSave);
    EXPECT_FALSE(m_windows.Current().ended) << "the dialog stays open";
    settings_sandbox::BlockSaving(false);
    m_windows.Click(kSave);
  });
  EXPECT_EQ(m_windows.m_messageBoxes,
            std::vector<std::string>{
                "Settings Not Saved: The settings were not saved.\n" + reason +
                " (16) owned"});
  EXPECT_EQ(settings_sandbox::StoredWord(), 0x03000000 | kSystemTimeBit);
}

// ---- Set PC Clock and the beep box ----

// Six misses in a row set the clock; the first tick after a jump may still
// be a hit, as its code history refills.
constexpr int kTicksForASet = 8;

TEST_F(SetupDialogTest, TheBeepBoxBeepsWhenCheckedAndOnEachClockSet) {
  m_box.Do("offset 5000");
  Run([&](CSetupDlg&) {
    ASSERT_TRUE(m_windows.Click(kBeepOnSet));
    EXPECT_EQ(m_windows.m_beeps, std::vector<std::uint32_t>{0xFFFFFFFF});
    ASSERT_TRUE(m_windows.Click(kBeepOnSet));
    EXPECT_EQ(m_windows.m_beeps.size(), 1u) << "unchecking never beeps";

    // With Set PC Clock checked the clock is set, without a beep unless the
    // beep box is checked. (The engine's tests show it waits for the check.)
    Start();
    ASSERT_TRUE(m_windows.Click(kSetPcClock));
    Ticks(kTicksForASet);
    EXPECT_EQ(m_clock.SetsTaken(), 1);
    EXPECT_EQ(m_windows.m_beeps.size(), 1u);

    // With it, the tick of a set beeps once, and no other tick does; the
    // choice survives a stop and a start.
    ASSERT_TRUE(m_windows.Click(kBeepOnSet));
    ASSERT_TRUE(m_windows.Click(kTestRun));
    Start();
    ASSERT_TRUE(m_windows.Click(kSetPcClock));
    m_windows.m_beeps.clear();
    m_clock.JumpPcClock(-5000);
    for (int i = 0; i < kTicksForASet && m_clock.SetsTaken() == 1; ++i) {
      ASSERT_TRUE(m_windows.m_beeps.empty()) << "a beep without a set";
      Ticks(1);
    }
    EXPECT_EQ(m_clock.SetsTaken(), 2);
    EXPECT_EQ(m_windows.m_beeps, std::vector<std::uint32_t>{0xFFFFFFFF});
  });
}

// ---- the About box ----

// The About box's loop delivers the main dialog's timer messages, so a test
// keeps ticking behind it.
TEST_F(SetupDialogTest, HelpAndTheAboutEntryOpenTheAboutBoxWhileTheTestTicks) {
  Run([&](CSetupDlg& dialog) {
    Start();
    FakeDialog& main = m_windows.Current();
    m_windows.OnModal(setup::kAboutHelpDialogId, [&](FakeDialog&) {
      ASSERT_EQ(main.timers.count(1), 1u);
      m_clock.Advance(setup::kPollIntervalMs);
      std::intptr_t ignored;
      main.events->Dispatch(setup::kMsgTimer, 1, 0, &ignored);
      m_windows.Command(setup::kIdOk);
    });
    ASSERT_TRUE(m_windows.Click(kHelp));
    EXPECT_TRUE(m_windows.SysCommand(0x10));
    EXPECT_TRUE(m_windows.SysCommand(0x13));  // low-order bits added
    // Other system commands go to the default processing.
    EXPECT_FALSE(m_windows.SysCommand(0xF060));
    EXPECT_EQ(dialog.m_tickCount, 3);
  });
  EXPECT_EQ(m_windows.m_modalRuns, (std::vector<int>{102, 100, 100, 100}));
}

}  // namespace
