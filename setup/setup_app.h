// Moravel as a program: the application object runs the main dialog modally
// and ends the program when it closes.
#pragma once

#include "link/user_notice.h"
#include "setup/framework.h"

namespace setup {

inline constexpr char kPortOpenFailedText[] = "Error opening COM port";
inline constexpr char kConnectFailedText[] =
    "Serial port not opened or serial time code device \nis missing or "
    "malfunctioning at selected settings.";
inline constexpr char kConnectFailedCaption[] = "Communications Error";

class CSetupApp : public CWinApp {
 public:
  CSetupApp();
  ~CSetupApp() override;

  int InitInstance() override;

  DECLARE_MESSAGE_MAP()
};

// Turns the shared code's notices into Moravel's message boxes, owned by no
// window.
void ShowUserNotice(UserNotice notice);

}  // namespace setup
