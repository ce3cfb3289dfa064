#include "config/linux_config.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace config {
namespace {

constexpr char kDefaultSettingsRoot[] = "/etc/quorvel";

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

}  // namespace config
