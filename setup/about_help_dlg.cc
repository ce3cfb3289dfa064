#include "setup/about_help_dlg.h"

namespace setup {

BEGIN_MESSAGE_MAP(CAboutHelpDlg, CDialog)
END_MESSAGE_MAP()

CAboutHelpDlg::CAboutHelpDlg(CWnd* parent)
    : CDialog(kAboutHelpDialogId, parent) {}

CAboutHelpDlg::~CAboutHelpDlg() = default;

}  // namespace setup
