// The settings store where there is no registry: a folder per key below the
// settings root, a small text file per value holding the word in hexadecimal.
// Reading needs only read access; a save replaces the file atomically, so a
// crash leaves the old word or the new one, never a torn one.
#include "platform/settings_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/linux_config.h"
#include "platform/folders.h"
#include "platform/posix/settings_store_test_seam.h"
#include "platform/posix/settings_word.h"

namespace platform {
namespace {

constexpr std::size_t kLongestValueText = 32;

struct OpenKey {
  std::string folder;
};

SaveStepHook g_saveStepHook = nullptr;

void ReachStep(SaveStep step) {
  if (g_saveStepHook != nullptr) g_saveStepHook(step);
}

// "A\B\C" becomes "<root>/A/B/C"; empty parts and "." or ".." are refused so
// a key can never name a folder outside the root.
bool KeyFolder(const char* path, std::string* folder) {
  std::string result = config::SettingsRoot();
  std::string part;
  for (const char* p = path;; ++p) {
    if (*p == '\\' || *p == '/' || *p == '\0') {
      if (part.empty() || part == "." || part == "..") return false;
      result += '/';
      result += part;
      part.clear();
      if (*p == '\0') break;
    } else {
      part += *p;
    }
  }
  *folder = result;
  return true;
}

bool IsFolder(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool ValidValueName(const char* name) {
  return name[0] != '\0' && std::strchr(name, '/') == nullptr &&
         std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}

}  // namespace

bool ParseSettingsWord(const char* text, std::uint32_t* word) {
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
  std::uint32_t value = 0;
  int digits = 0;
  for (; std::isxdigit(static_cast<unsigned char>(*text)); ++text, ++digits) {
    if (digits == 8) return false;
    const char c = *text;
    const unsigned nibble = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    value = value << 4 | nibble;
  }
  while (*text == ' ' || *text == '\n' || *text == '\r' || *text == '\t')
    ++text;
  if (digits == 0 || *text != '\0') return false;
  *word = value;
  return true;
}

namespace {

bool ReadSmallFile(const std::string& path, char* text, std::size_t room) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  std::size_t used = 0;
  bool ok = true;
  for (;;) {
    const ssize_t got = read(fd, text + used, room - used);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) ok = false;
    if (got <= 0) break;
    used += static_cast<std::size_t>(got);
    if (used == room) {  // longer than any word's text: not a value of ours
      ok = false;
      break;
    }
  }
  close(fd);
  text[used] = '\0';
  return ok;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t put = write(fd, data, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

bool SyncFolder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = fsync(fd) == 0;
  close(fd);
  return ok;
}

bool ReplaceAtomically(const std::string& folder, const std::string& name,
                       const char* text) {
  std::string temp = folder + "/." + name + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) return false;
  ReachStep(SaveStep::kTempCreated);
  bool ok = fchmod(fd, 0644) == 0 && WriteAll(fd, text, std::strlen(text));
  ReachStep(SaveStep::kTempWritten);
  ok = ok && fsync(fd) == 0;
  ReachStep(SaveStep::kTempSynced);
  ok = close(fd) == 0 && ok;
  ok = ok && rename(temp.c_str(), (folder + "/" + name).c_str()) == 0;
  const int error = errno;
  ReachStep(SaveStep::kRenamed);
  if (!ok) {
    unlink(temp.c_str());
    errno = error;  // the failed step's, not the clean-up's
    return false;
  }
  return SyncFolder(folder);
}

}  // namespace

void SetSaveStepHook(SaveStepHook hook) { g_saveStepHook = hook; }

int OpenSettingsKey(const char* path, SettingsKey* key) {
  std::string folder;
  if (!KeyFolder(path, &folder)) return 0;
  // Creating the key is a courtesy; a service that may only read finds the
  // folder its administrator made, or no key at all.
  if (!IsFolder(folder) && !MakeFolders(folder)) return 0;
  if (!IsFolder(folder)) return 0;
  *key = reinterpret_cast<SettingsKey>(new OpenKey{folder});
  return 1;
}

int ReadSettingsValue(SettingsKey key, const char* name, void* data,
                      std::uint32_t* size) {
  const OpenKey* open = reinterpret_cast<const OpenKey*>(key);
  if (open == nullptr || !ValidValueName(name) || *size < sizeof(std::uint32_t))
    return 0;
  char text[kLongestValueText + 1];
  std::uint32_t word;
  if (!ReadSmallFile(open->folder + "/" + name, text, kLongestValueText) ||
      !ParseSettingsWord(text, &word))
    return 0;
  std::memcpy(data, &word, sizeof word);
  *size = sizeof word;
  return 1;
}

int WriteSettingsDword(SettingsKey key, const char* name, std::uint32_t value) {
  const OpenKey* open = reinterpret_cast<const OpenKey*>(key);
  if (open == nullptr || !ValidValueName(name)) return 0;
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X\n", static_cast<unsigned>(value));
  return ReplaceAtomically(open->folder, name, text) ? 1 : 0;
}

void CloseSettingsKey(SettingsKey key) {
  delete reinterpret_cast<OpenKey*>(key);
}

}  // namespace platform
