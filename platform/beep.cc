#include "platform/beep.h"

#include "platform/beep_test_seam.h"

namespace platform {
namespace {

BeepHook g_beepHook = nullptr;

}  // namespace

void UseBeepHook(BeepHook hook) { g_beepHook = hook; }

void MessageBeep(std::uint32_t type) {
  if (g_beepHook != nullptr) {
    g_beepHook(type);
    return;
  }
  SystemMessageBeep(type);
}

}  // namespace platform
