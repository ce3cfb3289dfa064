#include "tools/boxsim/serial_line.h"

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <climits>

#include "platform/folders.h"
#include "tools/boxsim/boxsim_core.h"

namespace boxsim {

namespace {

std::string SystemError(const std::string& what) {
  return what + ": " + strerror(errno);
}

bool MakeRaw8O1(int fd) {
  termios settings;
  if (tcgetattr(fd, &settings) != 0) return false;
  cfmakeraw(&settings);
  cfsetispeed(&settings, B38400);
  cfsetospeed(&settings, B38400);
  settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB);
  settings.c_cflag |= CS8 | PARENB | PARODD | CLOCAL | CREAD;
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  return tcsetattr(fd, TCSANOW, &settings) == 0;
}

bool SetNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

std::string ParentOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return "";
  return path.substr(0, slash);
}

std::string ReadLink(const std::string& path) {
  char target[PATH_MAX];
  const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
  if (length < 0) return "";
  return std::string(target, static_cast<std::size_t>(length));
}

// The pseudo-terminal is presented as serial devices are: group dialout and
// read-write for the group, so a service that may use the serial ports (and
// nothing else) can open it. Without a dialout group, or without the right to
// hand the device to it, it stays as made: still good for its owner.
void PresentAsSerialDevice(int fd, const std::string& name) {
  struct group entry;
  struct group* found = nullptr;
  char buffer[4096];
  if (getgrnam_r("dialout", &entry, buffer, sizeof buffer, &found) != 0 ||
      found == nullptr)
    return;
  if (fchown(fd, static_cast<uid_t>(-1), found->gr_gid) != 0 ||
      fchmod(fd, 0660) != 0)
    fprintf(stderr, "boxsim: %s not given to group dialout: %s\n", name.c_str(),
            strerror(errno));
}

void SleepUntil(std::int64_t deadlineNs) {
  timespec deadline;
  deadline.tv_sec = static_cast<time_t>(deadlineNs / 1000000000);
  deadline.tv_nsec = static_cast<long>(deadlineNs % 1000000000);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) ==
         EINTR) {
  }
}

}  // namespace

std::int64_t MonotonicNs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

SerialLine::~SerialLine() { Close(); }

bool SerialLine::OpenPseudoTerminal(std::string* error) {
  fd_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (fd_ < 0) return *error = SystemError("posix_openpt"), false;
  char name[128];
  if (grantpt(fd_) != 0 || unlockpt(fd_) != 0 ||
      ptsname_r(fd_, name, sizeof name) != 0) {
    *error = SystemError("pseudo-terminal set-up");
    Close();
    return false;
  }
  name_ = name;
  slaveFd_ = open(name, O_RDWR | O_NOCTTY);
  if (slaveFd_ < 0 || !MakeRaw8O1(slaveFd_) || !SetNonBlocking(fd_)) {
    *error = SystemError(name_);
    Close();
    return false;
  }
  PresentAsSerialDevice(slaveFd_, name_);
  return true;
}

bool SerialLine::OpenDevice(const std::string& path, std::string* error) {
  fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd_ < 0) return *error = SystemError(path), false;
  if (!MakeRaw8O1(fd_)) {
    *error = SystemError(path + ": line settings");
    Close();
    return false;
  }
  name_ = path;
  return true;
}

bool SerialLine::Publish(const std::string& path, std::string* error) {
  struct stat info;
  if (lstat(path.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) {
    *error = path + ": exists and is not a symbolic link; left alone";
    return false;
  }
  if (!platform::MakeFolders(ParentOf(path)))
    return *error = SystemError("cannot create the folder of " + path), false;
  // A new link under a temporary name, renamed over the old one, so a
  // program that opens the path never finds it missing.
  const std::string temporary = path + ".boxsim." + std::to_string(getpid());
  unlink(temporary.c_str());
  if (symlink(name_.c_str(), temporary.c_str()) != 0)
    return *error = SystemError(temporary), false;
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    *error = SystemError(path);
    unlink(temporary.c_str());
    return false;
  }
  linkPath_ = path;
  return true;
}

void SerialLine::Close() {
  // Another simulator may have taken the link over since; leave it then.
  if (!linkPath_.empty() && ReadLink(linkPath_) == name_)
    unlink(linkPath_.c_str());
  linkPath_.clear();
  if (slaveFd_ >= 0) close(slaveFd_);
  if (fd_ >= 0) close(fd_);
  slaveFd_ = fd_ = -1;
}

bool SerialLine::WritePaced(const std::uint8_t* bytes, std::size_t count,
                            std::int64_t startNs, std::int64_t turnaroundNs,
                            std::int64_t gapNs) {
  for (std::size_t i = 0; i < count; ++i) {
    SleepUntil(startNs + turnaroundNs + (i > 0 ? gapNs : 0) +
               static_cast<std::int64_t>(i + 1) * kByteTimeNs);
    ssize_t written;
    do {
      written = write(fd_, bytes + i, 1);
    } while (written < 0 && errno == EINTR);
    if (written != 1) return false;
  }
  return true;
}

}  // namespace boxsim
