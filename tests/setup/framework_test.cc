// The dialog framework's routing, the templates both window systems build
// from, and the application object's run.
#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>

#include "setup/dialog_templates.h"
#include "setup/framework.h"
#include "setup/setup_app.h"
#include "tests/setup/fake_window_system.h"
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

using fakes::FakeDialog;
using fakes::FakeWindowSystem;
using namespace setup;

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
}

TEST(MessageMapTest, ADialogThatCannotBeBuiltEndsAtOnce) {
  FakeWindowSystem windows;
  CDialog unknown(4242, nullptr);
  EXPECT_EQ(unknown.DoModal(), -1);
  EXPECT_TRUE(windows.m_modalRuns.empty());
}

// ---- the templates ----

TEST(DialogTemplateTest, ControlsAreUniqueAndInsideTheirDialogs) {
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
}

// The back ends build each control by its kind, and a radio set runs from a
// group mark to the next.
TEST(DialogTemplateTest, KindsAndRadioSetsFollowTheStyles) {
  const DialogTemplate& dialog = SetupDialogTemplate();
  struct Case {
    int id;
    ControlKind kind;
    int firstOfSet;  // radio buttons only
  };
  const Case cases[] = {{1003, ControlKind::kPushButton, 0},
                        {1, ControlKind::kDefaultPushButton, 0},
                        {1005, ControlKind::kRadioButton, 1004},
                        {1010, ControlKind::kRadioButton, 1007},
                        {1012, ControlKind::kRadioButton, 1011},
                        {1001, ControlKind::kToggleButton, 0},
                        {1013, ControlKind::kCheckBox, 0},
                        {1000, ControlKind::kEdit, 0}};
  for (const Case& c : cases) {
    const ControlTemplate* control = FindControl(dialog, c.id);
    ASSERT_NE(control, nullptr) << c.id;
    EXPECT_EQ(KindOf(*control), c.kind) << c.id;
    if (c.kind != ControlKind::kRadioButton) continue;
    const int index = static_cast<int>(control - dialog.controls);
    EXPECT_EQ(dialog.controls[GroupStart(dialog, index)].id, c.firstOfSet)
        << c.id;
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
  EXPECT_FALSE(box.isOpen());
  EXPECT_EQ(box.CountCalls("Close"), 1);
  EXPECT_EQ(app.m_pMainWnd, nullptr);
  RaiseUserNotice(UserNotice::kConnectFailed);
  EXPECT_EQ(windows.m_messageBoxes,
            std::vector<std::string>{": Error opening COM port (0)"});
}

}  // namespace
