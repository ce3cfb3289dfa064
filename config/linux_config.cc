#include "config/linux_config.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace config {
namespace {

constexpr char kDefaultSettingsRoot[] = "/etc/quorvel";
constexpr char kDefaultRefclockSocket[] = "/run/chrony.quorvel.sock";

// As lstat sees it: a link counts whatever it points at.
bool NameExists(const std::string& path) {
  std::error_code error;
  const auto type = std::filesystem::symlink_status(path, error).type();
  return type != std::filesystem::file_type::not_found &&
         type != std::filesystem::file_type::none;
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
