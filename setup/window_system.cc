#include "setup/window_system.h"

namespace setup {
namespace {
WindowSystem* g_installedWindows = nullptr;
}  // namespace

void UseWindowSystem(WindowSystem* windows) { g_installedWindows = windows; }

WindowSystem& Windows() {
  return g_installedWindows != nullptr ? *g_installedWindows
                                       : NativeWindowSystem();
}

}  // namespace setup
