// Moravel's start on Windows: a GUI program without a console. The common
// controls are registered before the framework's start-up runs the
// application object.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include "setup/framework.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  InitCommonControls();
  return setup::AfxWinMain();
}
