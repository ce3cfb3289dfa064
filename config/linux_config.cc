#include "config/linux_config.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace config {
namespace {

constexpr char kDefaultSettingsRoot[] = "/etc/quorvel";
constexpr char kDefaultRefclockSocket[] = "/run/chrony.quorvel.sock";

// A link counts whatever it points at. lstat, not std::filesystem: that
// would bring the C++ locale machinery into the service's memory.
bool NameExists(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0;
}

}  // namespace

std::string SettingsRoot() {
  const char* given = std::getenv("CONFIGURATION_DIRECTORY");
  if (given == nullptr || given[0] == '\0') return kDefaultSettingsRoot;
  const std::string list = given;
  return list.substr(0, list.find(':'));
}

std::string PortDevicePath(unsigned number) {
  const std::string link =
      SettingsRoot() + "/dosdevices/com" + std::to_string(number);
  if (NameExists(link)) return link;
  return "/dev/ttyS" + std::to_string(number - 1);
}

// Read with C's stdio: a C++ file stream would bring the whole locale
// machinery into the service's memory for one line.
std::string RefclockSocketPath() {
  std::FILE* file =
      std::fopen((SettingsRoot() + "/refclock-socket").c_str(), "r");
  if (file == nullptr) return kDefaultRefclockSocket;
  char line[4096];
  const bool read = std::fgets(line, sizeof line, file) != nullptr;
  std::fclose(file);
  if (!read) return kDefaultRefclockSocket;
  line[std::strcspn(line, "\n")] = '\0';
  return line[0] == '\0' ? kDefaultRefclockSocket : line;
}

}  // namespace config
