// systemd in the Service Control Manager's place.
//
// Dispatcher: only a process that systemd started (NOTIFY_SOCKET set) can
// have one. The service's entry routine runs on a thread of its own while
// the calling thread waits for controls: SIGTERM is the stop control and
// SIGUSR1 an interrogation. Status reports become notification datagrams.
//
// Installation: a unit file in /etc/systemd/system, enabled and removed
// with systemctl. The manager "opens" when systemd's private socket answers,
// so on a machine without a running systemd installation fails at once.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix/notify_socket.h"
#include "platform/service_control.h"
#include "platform/systemd_notify.h"

namespace platform {
namespace {

constexpr ServiceStatusHandle kNotifyHandle = 1;
constexpr char kUnitDirectory[] = "/etc/systemd/system/";
constexpr char kSystemdSocket[] = "/run/systemd/private";

std::atomic<ServiceControlHandler> g_controlHandler{nullptr};
std::atomic<bool> g_dispatcherRunning{false};
pthread_t g_dispatcherThread;

class NotifyStatusSink : public ServiceStatusSink {
 public:
  ServiceStatusHandle RegisterCtrlHandler(
      const char*, ServiceControlHandler handler) override {
    if (!g_dispatcherRunning) {
      errno = ENOTCONN;
      return 0;
    }
    g_controlHandler = handler;
    return kNotifyHandle;
  }

  int SetStatus(ServiceStatusHandle handle,
                const SERVICE_STATUS& status) override {
    if (handle != kNotifyHandle) {
      errno = EBADF;
      return 0;
    }
    return SendServiceNotification(RenderNotifyMessage(status).c_str());
  }

  int SetStatusText(ServiceStatusHandle handle, const char* text) override {
    if (handle != kNotifyHandle) {
      errno = EBADF;
      return 0;
    }
    return SendServiceNotification(RenderStatusText(text).c_str());
  }
};

struct EntryCall {
  ServiceEntryRoutine entry;
};

sigset_t ControlSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGUSR1);
  sigaddset(&signals, SIGUSR2);  // the service thread has ended
  return signals;
}

void* RunServiceThread(void* argument) {
  const EntryCall* call = static_cast<const EntryCall*>(argument);
  call->entry(0, nullptr);
  pthread_kill(g_dispatcherThread, SIGUSR2);
  return nullptr;
}

void DispatchControls() {
  const sigset_t signals = ControlSignals();
  for (;;) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) continue;
    if (signal == SIGUSR2) return;
    const ServiceControlHandler handler = g_controlHandler;
    if (handler == nullptr) continue;
    handler(signal == SIGTERM ? kServiceControlStop
                              : kServiceControlInterrogate);
  }
}

// Runs a program with its output thrown away; its exit status, or -1.
int RunQuietly(const char* const* argv) {
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
    }
    execvp(argv[0], const_cast<char* const*>(argv));
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The first line a program prints, without its line feed.
std::string FirstLineOf(const char* const* argv) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return "";
  const pid_t child = fork();
  if (child == 0) {
    dup2(pipeEnds[1], STDOUT_FILENO);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    execvp(argv[0], const_cast<char* const*>(argv));
    _exit(127);
  }
  close(pipeEnds[1]);
  std::string output;
  char buffer[256];
  ssize_t got;
  while ((got = read(pipeEnds[0], buffer, sizeof buffer)) > 0) {
    output.append(buffer, static_cast<std::size_t>(got));
  }
  close(pipeEnds[0]);
  if (child > 0) waitpid(child, nullptr, 0);
  return output.substr(0, output.find('\n'));
}

// Installation handles: the manager is the connected socket's descriptor
// plus one; a service is kServiceHandle, its unit kept here. The program
// opens one service at a time.
constexpr ServiceManagerHandle kServiceHandle = 0x10000;
std::string g_openedUnit;

std::string UnitName(const char* serviceName) {
  return std::string(serviceName) + ".service";
}

std::string UnitPath(const std::string& unit) { return kUnitDirectory + unit; }

bool WriteWholeFile(const std::string& path, const std::string& text) {
  const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (file < 0) return false;
  const ssize_t written = write(file, text.data(), text.size());
  const int writeErrno = errno;
  close(file);
  if (written == static_cast<ssize_t>(text.size())) return true;
  unlink(path.c_str());
  errno = written < 0 ? writeErrno : EIO;
  return false;
}

std::uint32_t StateOfUnit(const std::string& activeState) {
  if (activeState == "active" || activeState == "reloading")
    return kServiceRunning;
  if (activeState == "activating") return kServiceStartPending;
  if (activeState == "deactivating") return kServiceStopPending;
  return kServiceStopped;
}

}  // namespace

ServiceStatusSink& SystemServiceStatusSink() {
  static NotifyStatusSink sink;
  return sink;
}

int StartServiceDispatcher(const char*, ServiceEntryRoutine entry) {
  const char* socket = std::getenv("NOTIFY_SOCKET");
  if (socket == nullptr || socket[0] == '\0') {
    errno = ENOTCONN;
    return 0;
  }
  const sigset_t signals = ControlSignals();
  int error = pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  g_dispatcherThread = pthread_self();
  g_dispatcherRunning = true;
  EntryCall call{entry};
  pthread_t serviceThread;
  if (error == 0) {
    error = pthread_create(&serviceThread, nullptr, RunServiceThread, &call);
  }
  if (error != 0) {
    g_dispatcherRunning = false;
    errno = error;
    return 0;
  }
  DispatchControls();
  pthread_join(serviceThread, nullptr);
  g_dispatcherRunning = false;
  return 1;
}

int ServiceProcessExitStatus(int dispatcherResult) {
  return dispatcherResult != 0 ? 0 : 1;
}

ServiceManagerHandle OpenServiceManager() {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, kSystemdSocket, sizeof address.sun_path - 1);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address),
              sizeof address) != 0) {
    const int connectErrno = errno;
    close(fd);
    errno = connectErrno;
    return 0;
  }
  return fd + 1;
}

ServiceManagerHandle CreateOwnProcessService(ServiceManagerHandle,
                                             const ServiceDefinition& service) {
  const std::string unit = UnitName(service.serviceName);
  const std::string path = UnitPath(unit);
  if (!WriteWholeFile(path, service.unitText)) return 0;
  const char* reload[] = {"systemctl", "daemon-reload", nullptr};
  const char* enable[] = {"systemctl", "enable", unit.c_str(), nullptr};
  if (RunQuietly(reload) != 0 || RunQuietly(enable) != 0) {
    unlink(path.c_str());
    RunQuietly(reload);
    errno = EIO;
    return 0;
  }
  g_openedUnit = unit;
  return kServiceHandle;
}

ServiceManagerHandle OpenServiceByName(ServiceManagerHandle,
                                       const char* serviceName) {
  const std::string unit = UnitName(serviceName);
  struct stat info;
  if (stat(UnitPath(unit).c_str(), &info) != 0) return 0;
  g_openedUnit = unit;
  return kServiceHandle;
}

int ControlServiceStop(ServiceManagerHandle, SERVICE_STATUS* status) {
  const char* isActive[] = {"systemctl", "is-active", "--quiet",
                            g_openedUnit.c_str(), nullptr};
  if (RunQuietly(isActive) != 0) {
    errno = ESRCH;
    return 0;
  }
  const char* stop[] = {"systemctl", "stop", "--no-block", g_openedUnit.c_str(),
                        nullptr};
  if (RunQuietly(stop) != 0) {
    errno = EIO;
    return 0;
  }
  *status = SERVICE_STATUS{};
  status->dwServiceType = kServiceOwnProcess;
  status->dwCurrentState = kServiceStopPending;
  return 1;
}

int QueryServiceStatus(ServiceManagerHandle, SERVICE_STATUS* status) {
  const char* show[] = {
      "systemctl",          "show", "--property=ActiveState", "--value",
      g_openedUnit.c_str(), nullptr};
  const std::string activeState = FirstLineOf(show);
  if (activeState.empty()) {
    errno = EIO;
    return 0;
  }
  *status = SERVICE_STATUS{};
  status->dwServiceType = kServiceOwnProcess;
  status->dwCurrentState = StateOfUnit(activeState);
  return 1;
}

int DeleteService(ServiceManagerHandle) {
  const char* disable[] = {"systemctl", "disable", g_openedUnit.c_str(),
                           nullptr};
  RunQuietly(disable);
  if (unlink(UnitPath(g_openedUnit).c_str()) != 0) return 0;
  const char* reload[] = {"systemctl", "daemon-reload", nullptr};
  RunQuietly(reload);
  return 1;
}

void CloseServiceHandle(ServiceManagerHandle handle) {
  if (handle == kServiceHandle) {
    g_openedUnit.clear();
  } else if (handle > 0) {
    close(static_cast<int>(handle - 1));
  }
}

int GetOwnProgramPath(char* path, std::uint32_t size) {
  if (size == 0) return 0;
  const ssize_t length = readlink("/proc/self/exe", path, size - 1);
  if (length < 0) return 0;
  // A path cut short would install a service that cannot start.
  if (static_cast<std::uint32_t>(length) == size - 1) {
    errno = ENAMETOOLONG;
    return 0;
  }
  path[length] = '\0';
  return 1;
}

}  // namespace platform
