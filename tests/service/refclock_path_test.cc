// The administrator's override of chrony's socket path: the first line of
// <settings root>/refclock-socket, else the default.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "config/linux_config.h"

namespace {

TEST(RefclockSocketPath, FirstLineOfTheOverrideElseTheDefault) {
  char folder[] = "/tmp/quorvel-refclock-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  setenv("CONFIGURATION_DIRECTORY", folder, 1);
  const std::string file = std::string(folder) + "/refclock-socket";
  const struct {
    const char* content;  // nullptr: no file
    std::string path;
  } cases[] = {
      {nullptr, std::string("/run/chrony.quorvel.sock")},
      {"", std::string("/run/chrony.quorvel.sock")},
      {"\nsecond line", std::string("/run/chrony.quorvel.sock")},
      {"/run/house.sock", "/run/house.sock"},
      {"/run/house.sock\n/run/other.sock\n", "/run/house.sock"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content == nullptr ? "no file" : c.content);
    unlink(file.c_str());
    if (c.content != nullptr) std::ofstream(file) << c.content;
    EXPECT_EQ(config::RefclockSocketPath(), c.path);
  }
  unlink(file.c_str());
  rmdir(folder);
  unsetenv("CONFIGURATION_DIRECTORY");
}

}  // namespace
