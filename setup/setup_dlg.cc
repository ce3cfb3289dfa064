#include "setup/setup_dlg.h"

#include <string>

#include "platform/system_error.h"
#include "setup/about_help_dlg.h"

namespace setup {

using namespace control;

BEGIN_MESSAGE_MAP(CSetupDlg, CDialog)
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_BN_CLICKED(kLocalTime, OnLocalTime)
ON_BN_CLICKED(kSystemTime, OnSystemTime)
ON_BN_CLICKED(kCom1, OnCom1)
ON_BN_CLICKED(kCom2, OnCom2)
ON_BN_CLICKED(kCom3, OnCom3)
ON_BN_CLICKED(kCom4, OnCom4)
ON_BN_CLICKED(kHelp, OnHelp)
ON_BN_CLICKED(kSave, OnSave)
ON_BN_CLICKED(kTestRun, OnTestRun)
ON_BN_CLICKED(kNtsc, OnNtsc)
ON_BN_CLICKED(kPal, OnPal)
ON_BN_CLICKED(kSetPcClock, OnSetPcClock)
ON_WM_TIMER()
ON_BN_CLICKED(kBeepOnSet, OnBeepOnSet)
END_MESSAGE_MAP()

// The engine (and with it the settings word) comes before the icon; the
// window-state fields are left to OnInitDialog, which zeroes them before
// anything can read them.
CSetupDlg::CSetupDlg(CWnd* parent) : CDialog(kSetupDialogId, parent) {
  m_appIcon = Windows().LoadIconResource(kAppIconId);
}

CSetupDlg::~CSetupDlg() = default;

int CSetupDlg::OnInitDialog() {
  m_running = 0;
  m_beepOnSet = 0;
  m_tickCount = 0;
  CDialog::OnInitDialog();
  AppendAboutEntry();
  Windows().SetWindowIcon(m_hWnd, true, m_appIcon);
  Windows().SetWindowIcon(m_hWnd, false, m_appIcon);
  EnableDlgItem(kSetPcClock, false);
  ShowSettings();
  SetDlgItemTextA(kStatusBox, kSerialPortClosedText);
  SetDlgItemTextA(kTimeCodeBox, kNotTestingText);
  CheckDlgButton(kBeepOnSet, 0);
  CheckDlgButton(kTestRun, 0);
  CheckDlgButton(kSetPcClock, 0);
  EnableDlgItem(kSetPcClock, false);
  return 1;
}

void CSetupDlg::AppendAboutEntry() {
  if (!Windows().HasSystemMenu(m_hWnd)) return;
  char text[64];
  Windows().ReadStringResource(kAboutMenuStringId, text, sizeof text);
  if (text[0] == '\0') return;
  Windows().AppendSystemMenuSeparator(m_hWnd);
  Windows().AppendSystemMenuItem(m_hWnd, kAboutCommand, text);
}

void CSetupDlg::ShowSettings() {
  CheckRadioButton(kNtsc, kPal, m_clock.m_isPal != 0 ? kPal : kNtsc);
  CheckRadioButton(kLocalTime, kSystemTime,
                   m_clock.m_useSystemTime != 0 ? kSystemTime : kLocalTime);
  int port = kCom1;
  if (m_clock.m_comPort == 4) port = kCom4;
  if (m_clock.m_comPort == 3) port = kCom3;
  if (m_clock.m_comPort == 2) port = kCom2;
  CheckRadioButton(kCom1, kCom4, port);
}

void CSetupDlg::OnOK() { CDialog::OnOK(); }

void CSetupDlg::OnSysCommand(std::uint32_t code, std::intptr_t) {
  if ((code & 0xFFF0) == kAboutCommand) {
    OpenAboutHelp();
  } else {
    Default();
  }
}

void CSetupDlg::OnPaint() {
  if (!IsIconic()) {
    Default();
    return;
  }
  WindowSystem& windows = Windows();
  PaintHandle paint = windows.BeginIconPaint(m_hWnd);
  windows.EraseIconBackground(m_hWnd, paint);
  int iconWidth = windows.IconWidth();
  int iconHeight = windows.IconHeight();
  ClientSize client = windows.GetClientSize(m_hWnd);
  int x = (client.width - iconWidth + 1) / 2;
  int y = (client.height - iconHeight + 1) / 2;
  windows.DrawIconAt(paint, x, y, m_appIcon);
  windows.EndIconPaint(m_hWnd, paint);
}

IconHandle CSetupDlg::OnQueryDragIcon() { return m_appIcon; }

void CSetupDlg::OnLocalTime() { m_clock.m_useSystemTime = 0; }
void CSetupDlg::OnSystemTime() { m_clock.m_useSystemTime = 1; }
void CSetupDlg::OnCom1() { m_clock.m_comPort = 1; }
void CSetupDlg::OnCom2() { m_clock.m_comPort = 2; }
void CSetupDlg::OnCom3() { m_clock.m_comPort = 3; }
void CSetupDlg::OnCom4() { m_clock.m_comPort = 4; }
void CSetupDlg::OnNtsc() { m_clock.m_isPal = 0; }
void CSetupDlg::OnPal() { m_clock.m_isPal = 1; }
void CSetupDlg::OnHelp() { OpenAboutHelp(); }
// A save that did not reach the store must not pass for one: the user would
// believe the service gets the new choices. The dialog stays as it is, so the
// choices can be saved again once the rights are there.
void CSetupDlg::OnSave() {
  if (m_clock.SaveSettings() != 0) return;
  const std::uint32_t error = platform::GetLastError();
  char reason[256];
  std::uint32_t length =
      platform::FormatSystemMessage(error, reason, sizeof reason);
  while (length > 0 &&
         (reason[length - 1] == '\r' || reason[length - 1] == '\n'))
    reason[--length] = '\0';
  std::string text = kNotSavedText;
  if (length > 0) text = text + "\n" + reason;
  Windows().ShowMessageBox(m_hWnd, text.c_str(), kNotSavedCaption,
                           kBoxIconError);
}

void CSetupDlg::OpenAboutHelp() {
  CAboutHelpDlg about(nullptr);
  about.DoModal();
}

void CSetupDlg::OnTestRun() {
  if (IsDlgButtonChecked(kTestRun) == 1) {
    StartTest();
  } else {
    StopTest();
  }
}

void CSetupDlg::StartTest() {
  EnableDlgItem(kSetPcClock, true);
  CheckDlgButton(kSetPcClock, 0);
  SetDlgItemTextA(kTimeCodeBox, kInitializingText);
  m_clock.m_setClockEnabled = 0;
  Sleep(50);
  m_clock.Connect(true);
  if (m_clock.m_linkReady != 0) {
    SetTimer(kPollTimerId, kPollIntervalMs);
    SetDlgItemTextA(kStatusBox, kPortOpenText);
    m_running = 1;
  } else {
    SetDlgItemTextA(kStatusBox, kInitErrorText);
    CheckDlgButton(kTestRun, 0);
  }
}

void CSetupDlg::StopTest() {
  CheckDlgButton(kSetPcClock, 0);
  EnableDlgItem(kSetPcClock, false);
  m_clock.m_setClockEnabled = 0;
  m_running = 0;
  KillTimer(kPollTimerId);
  m_clock.Connect(false);
  SetDlgItemTextA(kStatusBox, kSerialPortClosedText);
}

void CSetupDlg::OnTimer(std::uintptr_t) {
  if (m_clock.Poll() != 0 && m_beepOnSet != 0) MessageBeep(kBeepSimple);
  ShowTimeCode();
  RefreshStatusEveryFewTicks();
  if (m_running != 0) SetTimer(kPollTimerId, kPollIntervalMs);
}

void CSetupDlg::ShowTimeCode() {
  if (m_clock.m_noTimeCode != 0) {
    SetDlgItemTextA(kTimeCodeBox, kNoTimeCodeText);
    return;
  }
  char text[12];
  m_clock.FormatTimeCode(text);
  SetDlgItemTextA(kTimeCodeBox, text);
}

void CSetupDlg::RefreshStatusEveryFewTicks() {
  m_tickCount = m_tickCount + 1;
  if (m_tickCount <= kTicksPerStatusRefresh) return;
  m_tickCount = 0;
  SetDlgItemTextA(kStatusBox, m_clock.m_link.m_statusText);
}

void CSetupDlg::OnSetPcClock() {
  m_clock.m_setClockEnabled = IsDlgButtonChecked(kSetPcClock) == 1 ? 1 : 0;
}

void CSetupDlg::OnBeepOnSet() {
  if (IsDlgButtonChecked(kBeepOnSet) == 1) {
    m_beepOnSet = 1;
    MessageBeep(kBeepSimple);
  } else {
    m_beepOnSet = 0;
  }
}

}  // namespace setup
