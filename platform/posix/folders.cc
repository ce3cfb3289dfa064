#include "platform/folders.h"

#include <errno.h>
#include <sys/stat.h>

namespace platform {
namespace {

std::string ParentOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return "";
  return path.substr(0, slash);
}

}  // namespace

bool MakeFolders(const std::string& folder) {
  if (folder.empty()) return true;
  struct stat info;
  if (stat(folder.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
  if (!MakeFolders(ParentOf(folder))) return false;
  // Another process may make it between the look and the mkdir.
  return mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST;
}

}  // namespace platform
