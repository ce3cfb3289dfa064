#include "platform/serial.h"

namespace platform {
namespace {
SerialBackend* g_installedSerial = nullptr;
}  // namespace

void UseSerialBackend(SerialBackend* backend) { g_installedSerial = backend; }

SerialBackend& Serial() {
  return g_installedSerial != nullptr ? *g_installedSerial : SystemSerial();
}

}  // namespace platform
