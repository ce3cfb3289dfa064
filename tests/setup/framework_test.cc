// The dialog framework's routing, the templates both window systems build
// from, and the application object's run.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "setup/dialog_templates.h"
#include "setup/framework.h"
#include "setup/setup_app.h"
#include "tests/setup/fake_window_system.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_serial.h"
#include "tests/support/settings_sandbox.h"

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
    windows.Tick(7);        // not armed: not delivered
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

TEST(DialogTemplateTest, RadioSetsAreThoseOfTheGroupMarks) {
  const DialogTemplate& dialog = SetupDialogTemplate();
  auto setOf = [&](int id) {
    for (int i = 0; i < dialog.controlCount; ++i)
      if (dialog.controls[i].id == id)
        return dialog.controls[GroupStart(dialog, i)].id;
    return 0;
  };
  struct Case {
    int id, first;
  };
  const Case cases[] = {{1004, 1004}, {1005, 1004}, {1007, 1007},
                        {1008, 1007}, {1009, 1007}, {1010, 1007},
                        {1011, 1011}, {1012, 1011}, {1001, 1001}};
  for (const Case& c : cases) EXPECT_EQ(setOf(c.id), c.first) << c.id;
}

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

TEST(DialogTemplateTest, KindsFollowTheStyles) {
  struct Case {
    int id;
    ControlKind kind;
  };
  const Case cases[] = {
      {1003, ControlKind::kPushButton},   {1, ControlKind::kDefaultPushButton},
      {1004, ControlKind::kRadioButton},  {1001, ControlKind::kToggleButton},
      {1014, ControlKind::kToggleButton}, {1013, ControlKind::kCheckBox},
      {1000, ControlKind::kEdit},         {1002, ControlKind::kEdit}};
  for (const Case& c : cases) {
    const ControlTemplate* control = FindControl(SetupDialogTemplate(), c.id);
    ASSERT_NE(control, nullptr) << c.id;
    EXPECT_EQ(KindOf(*control), c.kind) << c.id;
  }
  EXPECT_EQ(KindOf(AboutHelpDialogTemplate().controls[0]), ControlKind::kIcon);
  EXPECT_EQ(AboutHelpDialogTemplate().controls[0].iconId, kPictureIconId);
}

// ---- the application object ----

// The notices become message boxes only while the application runs.
TEST(SetupAppTest, RunsTheMainDialogOnceAndClosesAPortLeftOpen) {
  for (bool failOpen : {false, true}) {
    SCOPED_TRACE(failOpen ? "port fails" : "port opens");
    settings_sandbox::Reset();
    fake::FakeClock clock;
    fakes::FakeSerial box(clock);
    box.failOpen = failOpen;
    FakeWindowSystem windows;
    CSetupApp app;
    ASSERT_EQ(AfxGetApp(), &app);
    windows.OnModal(kSetupDialogId, [&](FakeDialog&) {
      EXPECT_NE(app.m_pMainWnd, nullptr);
      windows.Click(control::kTestRun);
      EXPECT_EQ(box.isOpen(), !failOpen);
      windows.Command(kIdCancel);
    });
    EXPECT_EQ(AfxWinMain(), 0);
    EXPECT_EQ(windows.m_modalRuns, std::vector<int>{kSetupDialogId});
    EXPECT_FALSE(box.isOpen());
    EXPECT_EQ(app.m_pMainWnd, nullptr);
    ASSERT_EQ(windows.m_messageBoxes.size(), failOpen ? 2u : 0u);
    if (failOpen) {
      EXPECT_EQ(windows.m_messageBoxes[0].text, "Error opening COM port");
      EXPECT_EQ(windows.m_messageBoxes[1].caption, "Communications Error");
    }
    RaiseUserNotice(UserNotice::kConnectFailed);
    EXPECT_EQ(windows.m_messageBoxes.size(), failOpen ? 2u : 0u);
  }
}

}  // namespace
