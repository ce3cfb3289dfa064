// Moravel's dialogs over a fake window system: the framework's routing, the
// templates both window systems build from, the application object's run,
// and the main dialog with the real engine talking to a fake box on a fake
// clock.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "clock/time_code_clock.h"
#include "platform/settings_store.h"
#include "setup/dialog_templates.h"
#include "setup/framework.h"
#include "setup/setup_app.h"
#include "setup/setup_dlg.h"
#include "setup/window_system.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_serial.h"
#include "tests/support/settings_sandbox.h"

namespace setup {
// The dialog library asks for the build's window system when none is
// installed; in tests that would be a fault.
WindowSystem& NativeWindowSystem() {
  throw std::logic_error("no window system installed");
}
}  // namespace setup

namespace {

using namespace setup;

// A window system for dialog tests: it builds its controls from the same
// dialog templates as the real back ends, behaves like auto check boxes when
// the test clicks (the dialog reads no radio button, so theirs show only what
// the dialog sets), keeps a restartable timer per window that fires only when
// the test says so, and records beeps, message boxes, menu entries and icons.
struct FakeControl {
  const ControlTemplate* source;
  int check;
  bool enabled;
  std::string text;
};

struct FakeDialog {
  DialogEvents* events = nullptr;
  std::map<int, FakeControl> controls;             // by ID
  std::vector<std::string> systemMenu;             // "-" for a separator
  std::map<std::uintptr_t, std::uint32_t> timers;  // id -> milliseconds
  int timerStarts = 0;
  IconHandle bigIcon = nullptr;
  IconHandle smallIcon = nullptr;
  bool ended = false;
  std::intptr_t result = 0;
  int initResult = 0;
};

class FakeWindowSystem : public WindowSystem {
 public:
  using ModalScript = std::function<void(FakeDialog&)>;

  FakeWindowSystem() { UseWindowSystem(this); }
  ~FakeWindowSystem() override { UseWindowSystem(nullptr); }

  // What happens while a dialog of this template runs modally. A run that
  // its script leaves open returns -2.
  void OnModal(int templateId, ModalScript script) {
    m_scripts[templateId] = std::move(script);
  }

  // Person-like actions on the innermost open dialog. A click on a disabled
  // control does nothing and returns false.
  bool Click(int id) {
    FakeDialog& dialog = Current();
    FakeControl& clicked = Control(id);
    if (!clicked.enabled || dialog.ended) return false;
    const ControlKind kind = KindOf(*clicked.source);
    if (kind == ControlKind::kCheckBox || kind == ControlKind::kToggleButton)
      clicked.check = clicked.check == 1 ? 0 : 1;
    Command(id);
    return true;
  }
  // Fires timer `id` when it is armed; false when it is not.
  bool Tick(std::uintptr_t id = 1) {
    if (Current().ended || Current().timers.count(id) == 0) return false;
    Send(kMsgTimer, id);
    return true;
  }
  bool SysCommand(std::uint32_t code) { return Send(kMsgSysCommand, code); }
  void Command(int id) {
    Send(kMsgCommand, static_cast<std::uint32_t>(id) & 0xFFFF);
  }

  FakeDialog& Current() {
    if (m_open.empty()) throw std::logic_error("no dialog open");
    return *m_open.back();
  }
  FakeControl& Control(int id) { return Current().controls.at(id); }
  int Check(int id) { return Control(id).check; }
  bool Enabled(int id) { return Control(id).enabled; }
  const std::string& Text(int id) { return Control(id).text; }

  // Settings of the fake itself.
  bool m_hasSystemMenu = true;
  std::string m_aboutString = "&About Moravel...";

  // Records.
  std::vector<int> m_modalRuns;  // template IDs, in order of their start
  std::vector<std::uint32_t> m_beeps;
  // "caption: text (style)", and " owned" when it has an owner.
  std::vector<std::string> m_messageBoxes;
  // Called at each message box, e.g. to look at the dialog meanwhile.
  std::function<void()> m_onMessageBox;

  // WindowSystem
  std::intptr_t RunModal(const DialogTemplate& source, DialogHandle,
                         DialogEvents* events) override {
    m_modalRuns.push_back(source.resourceId);
    m_open.push_back(std::make_unique<FakeDialog>());
    FakeDialog& opened = *m_open.back();
    opened.events = events;
    for (int i = 0; i < source.controlCount; ++i) {
      const ControlTemplate& control = source.controls[i];
      if (control.id == kNoControlId) continue;
      opened.controls[control.id] = {&control, 0, true, control.caption};
    }
    opened.initResult = events->Initialize(&opened);
    auto script = m_scripts.find(source.resourceId);
    if (script != m_scripts.end()) script->second(opened);
    const std::intptr_t result = opened.ended ? opened.result : -2;
    events->Destroyed();
    m_open.pop_back();
    return result;
  }
  void EndModal(DialogHandle window, std::intptr_t result) override {
    FakeDialog& dialog = Of(window);
    dialog.ended = true;
    dialog.result = result;
    // Ending the modal run destroys the window, and its timers with it.
    dialog.timers.clear();
  }
  // A control the template lacks is a fault: at() throws.
  void SetCheck(DialogHandle window, int id, int state) override {
    Of(window).controls.at(id).check = state;
  }
  int GetCheck(DialogHandle window, int id) override {
    return Of(window).controls.at(id).check;
  }
  void SetItemText(DialogHandle window, int id, const char* text) override {
    Of(window).controls.at(id).text = text;
  }
  void EnableItem(DialogHandle window, int id, bool enable) override {
    Of(window).controls.at(id).enabled = enable;
  }
  void StartTimer(DialogHandle window, std::uintptr_t id,
                  std::uint32_t milliseconds) override {
    Of(window).timers[id] = milliseconds;
    ++Of(window).timerStarts;
  }
  void StopTimer(DialogHandle window, std::uintptr_t id) override {
    Of(window).timers.erase(id);
  }
  bool HasSystemMenu(DialogHandle) override { return m_hasSystemMenu; }
  void AppendSystemMenuSeparator(DialogHandle window) override {
    Of(window).systemMenu.push_back("-");
  }
  void AppendSystemMenuItem(DialogHandle window, std::uint32_t command,
                            const char* text) override {
    Of(window).systemMenu.push_back(std::to_string(command) + ":" + text);
  }
  void ReadStringResource(int id, char* text, int size) override {
    std::snprintf(text, static_cast<std::size_t>(size), "%s",
                  id == kAboutMenuStringId ? m_aboutString.c_str() : "");
  }
  IconHandle LoadIconResource(int id) override { return IconOf(id); }
  void SetWindowIcon(DialogHandle window, bool big, IconHandle icon) override {
    (big ? Of(window).bigIcon : Of(window).smallIcon) = icon;
  }
  // Never minimized: only Windows paints a minimized dialog's icon, and
  // these tests look at no pixels.
  bool IsMinimized(DialogHandle) override { return false; }
  PaintHandle BeginIconPaint(DialogHandle) override { return nullptr; }
  void EraseIconBackground(DialogHandle, PaintHandle) override {}
  int IconWidth() override { return 32; }
  int IconHeight() override { return 32; }
  ClientSize GetClientSize(DialogHandle) override { return {}; }
  void DrawIconAt(PaintHandle, int, int, IconHandle) override {}
  void EndIconPaint(DialogHandle, PaintHandle) override {}
  void Beep(std::uint32_t type) override { m_beeps.push_back(type); }
  void ShowMessageBox(DialogHandle owner, const char* text, const char* caption,
                      std::uint32_t style) override {
    m_messageBoxes.push_back(std::string(caption) + ": " + text + " (" +
                             std::to_string(style) + ")" +
                             (owner != nullptr ? " owned" : ""));
    if (m_onMessageBox) m_onMessageBox();
  }

  // Icons hand out the address of these, by group.
  static IconHandle IconOf(int id) {
    static char icons[256];
    return &icons[id & 0xFF];
  }

 private:
  // The dialog must still be open: a handle kept past its window is a fault.
  FakeDialog& Of(DialogHandle window) {
    for (auto& dialog : m_open) {
      if (dialog.get() == window) return *dialog;
    }
    throw std::logic_error("not an open dialog");
  }
  bool Send(std::uint32_t message, std::uintptr_t wParam) {
    FakeDialog& dialog = Current();
    std::intptr_t result = 0;
    return !dialog.ended &&
           dialog.events->Dispatch(message, wParam, 0, &result);
  }

  std::vector<std::unique_ptr<FakeDialog>> m_open;  // innermost last
  std::map<int, ModalScript> m_scripts;
};

// ---- message maps ----

class BaseDialog : public CDialog {
 public:
  BaseDialog() : CDialog(kAboutHelpDialogId, nullptr) {}
  std::vector<std::string> calls;
  void OnOK() override { calls.push_back("OnOK"); }

 protected:
  void OnShared() { calls.push_back("base shared"); }
  void OnBaseOnly() { calls.push_back("base only"); }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(BaseDialog, CDialog)
ON_BN_CLICKED(1015, OnShared)
ON_BN_CLICKED(1016, OnBaseOnly)
END_MESSAGE_MAP()

class DerivedDialog : public BaseDialog {
 protected:
  void OnShared() { calls.push_back("derived shared"); }
  void OnTimer(std::uintptr_t id) {
    calls.push_back("timer " + std::to_string(id));
  }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(DerivedDialog, BaseDialog)
ON_BN_CLICKED(1015, OnShared)
ON_WM_TIMER()
END_MESSAGE_MAP()

TEST(MessageMapTest, RoutesToTheMostDerivedEntryThenTheBaseThenOkCancel) {
  FakeWindowSystem windows;
  DerivedDialog dialog;
  windows.OnModal(kAboutHelpDialogId, [&](FakeDialog&) {
    windows.Command(1015);
    windows.Command(1016);
    windows.Command(1017);  // no entry anywhere: nothing happens
    dialog.SetTimer(7, 10);
    windows.Tick(7);
    windows.Command(kIdOk);
    std::intptr_t result = 0;
    // A notification other than a click does not match a click entry.
    EXPECT_FALSE(windows.Current().events->Dispatch(
        kMsgCommand, (1u << 16) | 1016u, 0, &result));
    windows.Command(kIdCancel);
  });
  EXPECT_EQ(dialog.DoModal(), kIdCancel);
  EXPECT_EQ(dialog.calls,
            (std::vector<std::string>{"derived shared", "base only", "timer 7",
                                      "OnOK"}));
  // A dialog that cannot be built ends at once.
  CDialog unknown(4242, nullptr);
  EXPECT_EQ(unknown.DoModal(), -1);
  EXPECT_EQ(windows.m_modalRuns.size(), 1u);
}

// ---- the templates ----

// Controls are unique and inside their dialogs. The back ends build each
// control by its kind (the dialog runs below click the toggle and the check
// box), and a radio set runs from a group mark to the next.
TEST(DialogTemplateTest, ControlsKindsAndRadioSetsFollowTheTemplates) {
  for (const DialogTemplate* dialog :
       {&SetupDialogTemplate(), &AboutHelpDialogTemplate()}) {
    std::set<int> ids;
    for (int i = 0; i < dialog->controlCount; ++i) {
      const ControlTemplate& c = dialog->controls[i];
      if (c.id != kNoControlId) {
        EXPECT_TRUE(ids.insert(c.id).second) << c.id;
      }
      EXPECT_LE(c.x + c.cx, dialog->cx) << c.caption;
      EXPECT_LE(c.y + c.cy, dialog->cy) << c.caption;
    }
  }
  const DialogTemplate& dialog = SetupDialogTemplate();
  // The ID, its kind and, for a radio button, the first of its set.
  const std::tuple<int, ControlKind, int> cases[] = {
      {1003, ControlKind::kPushButton, 0},
      {1, ControlKind::kDefaultPushButton, 0},
      {1005, ControlKind::kRadioButton, 1004},
      {1010, ControlKind::kRadioButton, 1007},
      {1012, ControlKind::kRadioButton, 1011},
      {1000, ControlKind::kEdit, 0}};
  for (const auto& [id, kind, firstOfSet] : cases) {
    const ControlTemplate* control = FindControl(dialog, id);
    ASSERT_NE(control, nullptr) << id;
    EXPECT_EQ(KindOf(*control), kind) << id;
    if (kind != ControlKind::kRadioButton) continue;
    const int index = static_cast<int>(control - dialog.controls);
    EXPECT_EQ(dialog.controls[GroupStart(dialog, index)].id, firstOfSet) << id;
  }
  EXPECT_EQ(KindOf(AboutHelpDialogTemplate().controls[0]), ControlKind::kIcon);
  EXPECT_EQ(AboutHelpDialogTemplate().controls[0].iconId, kPictureIconId);
}

// ---- the application object ----

// The notices become message boxes only while the application runs. Ending
// the dialog leaves a running test to the dialog object, whose end closes the
// port once; the window is gone by then, so a text written from the
// destructor would fail the fake's check of the handle.
TEST(SetupAppTest, RunsTheMainDialogOnceAndClosesAPortLeftOpen) {
  settings_sandbox::Reset();
  fake::FakeClock clock;
  fakes::FakeSerial box(clock);
  FakeWindowSystem windows;
  CSetupApp app;
  windows.OnModal(kSetupDialogId, [&](FakeDialog& window) {
    EXPECT_NE(app.m_pMainWnd, nullptr);
    windows.Click(control::kTestRun);
    RaiseUserNotice(UserNotice::kPortOpenFailed);
    windows.Command(kIdOk);
    EXPECT_TRUE(window.ended);
    EXPECT_TRUE(box.isOpen());
  });
  EXPECT_EQ(AfxWinMain(), 0);
  EXPECT_EQ(windows.m_modalRuns, std::vector<int>{kSetupDialogId});
  EXPECT_EQ(box.CountCalls("Close"), 1);
  EXPECT_EQ(app.m_pMainWnd, nullptr);
  RaiseUserNotice(UserNotice::kConnectFailed);
  EXPECT_EQ(windows.m_messageBoxes,
            std::vector<std::string>{": Error opening COM port (0)"});
}

// ---- the main dialog ----

using namespace control;

constexpr std::uint32_t kPalBit = 0x20000000;
constexpr std::uint32_t kSystemTimeBit = 0x40000000;
constexpr char kConnectFailed[] =
    "Communications Error: Serial port not opened or serial time code device "
    "\nis missing or malfunctioning at selected settings. (16)";

class SetupDialogTest : public ::testing::Test {
 protected:
  SetupDialogTest() : m_box(m_clock) {
    settings_sandbox::Reset();
    SetUserNoticeHandler(&ShowUserNotice);
  }
  ~SetupDialogTest() override { SetUserNoticeHandler(nullptr); }

  // Builds the dialog (which loads the settings word) and runs it modally
  // with `script` as the person at the screen.
  void Run(std::uint32_t settingsWord,
           const std::function<void(CSetupDlg&)>& script) {
    ASSERT_TRUE(settings_sandbox::StoreWord(settingsWord));
    CSetupDlg dialog(nullptr);
    m_windows.OnModal(kSetupDialogId, [&](FakeDialog&) { script(dialog); });
    dialog.DoModal();
  }

  void Start() { ASSERT_TRUE(m_windows.Click(kTestRun)); }
  // Each tick comes a timer period after the previous one's work.
  void Ticks(int count) {
    for (int i = 0; i < count; ++i) {
      m_clock.Advance(kPollIntervalMs);
      ASSERT_TRUE(m_windows.Tick());
    }
  }
  std::string Text(int id) { return m_windows.Text(id); }
  // The dialog in one line: its two boxes, whether TEST/RUN is in, whether
  // Set PC Clock is enabled and checked, the poll timer's period (0: none),
  // and whether the test runs and lets the engine set the clock.
  std::string Screen(const CSetupDlg& dialog) {
    auto timer = m_windows.Current().timers.find(kPollTimerId);
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
      void* appIcon = FakeWindowSystem::IconOf(kAppIconId);
      EXPECT_EQ(window.bigIcon, appIcon);
      EXPECT_EQ(window.smallIcon, appIcon);
      std::intptr_t dragIcon = 0;
      window.events->Dispatch(kMsgQueryDragIcon, 0, 0, &dragIcon);
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
  // A radio button, the engine's field it stores and the value it stores.
  const std::tuple<int, std::int32_t CTimeCodeClock::*, std::int32_t> cases[] =
      {
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
    for (const auto& [id, field, value] : cases) {
      dialog.m_clock.*field = 99;
      ASSERT_TRUE(m_windows.Click(id));
      EXPECT_EQ(dialog.m_clock.*field, value) << id;
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
  Run(0, [&](CSetupDlg&) {
    // With Set PC Clock checked the clock is set, without a beep unless the
    // beep box is checked. (The engine's tests show it waits for the check.)
    Start();
    ASSERT_TRUE(m_windows.Click(kSetPcClock));
    Ticks(kTicksForASet);
    EXPECT_EQ(m_clock.SetsTaken(), 1);
    EXPECT_TRUE(m_windows.m_beeps.empty());

    // Checking the box beeps, unchecking never does; the choice survives a
    // stop and a start, and then the tick of a set beeps once, no other.
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(m_windows.Click(kBeepOnSet));
    ASSERT_TRUE(m_windows.Click(kTestRun));
    Start();
    ASSERT_TRUE(m_windows.Click(kSetPcClock));
    m_clock.JumpPcClock(-5000);
    Ticks(kTicksForASet);
    EXPECT_EQ(m_clock.SetsTaken(), 2);
    EXPECT_EQ(m_windows.m_beeps, std::vector<std::uint32_t>(3, 0xFFFFFFFF));
  });
}

// ---- the About box ----

// The About box's loop delivers the main dialog's timer messages, so a test
// keeps ticking behind it.
TEST_F(SetupDialogTest, HelpAndTheAboutEntryOpenTheAboutBoxWhileTheTestTicks) {
  Run(0, [&](CSetupDlg& dialog) {
    Start();
    FakeDialog& main = m_windows.Current();
    m_windows.OnModal(kAboutHelpDialogId, [&](FakeDialog&) {
      ASSERT_EQ(main.timers.count(1), 1u);
      m_clock.Advance(kPollIntervalMs);
      std::intptr_t ignored;
      main.events->Dispatch(kMsgTimer, 1, 0, &ignored);
      m_windows.Command(kIdOk);
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
