#include "platform/service_control.h"

namespace platform {
namespace {

ServiceStatusSink* g_installedSink = nullptr;

ServiceStatusSink& CurrentSink() {
  return g_installedSink != nullptr ? *g_installedSink
                                    : SystemServiceStatusSink();
}

}  // namespace

void UseServiceStatusSink(ServiceStatusSink* sink) { g_installedSink = sink; }

ServiceStatusHandle RegisterServiceControlHandler(
    const char* serviceName, ServiceControlHandler handler) {
  return CurrentSink().RegisterCtrlHandler(serviceName, handler);
}

int SetServiceStatus(ServiceStatusHandle handle, const SERVICE_STATUS& status) {
  return CurrentSink().SetStatus(handle, status);
}

int SetServiceStatusText(ServiceStatusHandle handle, const char* text) {
  return CurrentSink().SetStatusText(handle, text);
}

}  // namespace platform
