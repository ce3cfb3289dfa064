#include "setup/setup_app.h"

#include "setup/setup_dlg.h"

namespace setup {

BEGIN_MESSAGE_MAP(CSetupApp, CWinApp)
ON_COMMAND(kHelpCommand, OnHelp)
END_MESSAGE_MAP()

CSetupApp::CSetupApp() : CWinApp(nullptr) {}
CSetupApp::~CSetupApp() = default;

int CSetupApp::InitInstance() {
  Enable3dControls();
  SetUserNoticeHandler(&ShowUserNotice);
  {
    // The dialog object, with the engine inside it, lives only for the modal
    // run: its destruction closes a port that a running test left open.
    CSetupDlg dialog(nullptr);
    m_pMainWnd = &dialog;
    dialog.DoModal();
    m_pMainWnd = nullptr;
  }
  SetUserNoticeHandler(nullptr);
  return 0;
}

void ShowUserNotice(UserNotice notice) {
  switch (notice) {
    case UserNotice::kPortOpenFailed:
      Windows().ShowMessageBox(nullptr, kPortOpenFailedText, "", kBoxOk);
      break;
    case UserNotice::kConnectFailed:
      Windows().ShowMessageBox(nullptr, kConnectFailedText,
                               kConnectFailedCaption, kBoxIconError);
      break;
  }
}

}  // namespace setup
