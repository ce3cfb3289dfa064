// The About-and-Help box: the version line and one help paragraph for each
// button and radio set of the main dialog. The framework's OK and Cancel
// handling close it.
#pragma once

#include "setup/framework.h"

namespace setup {

class CAboutHelpDlg : public CDialog {
 public:
  explicit CAboutHelpDlg(CWnd* parent = nullptr);
  ~CAboutHelpDlg() override;

  DECLARE_MESSAGE_MAP()
};

}  // namespace setup
