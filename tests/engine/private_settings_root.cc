// The engine loads the settings word when it is built. Natively that word
// lives under a folder of this machine; each test program gets a fresh
// folder of its own instead. Under Wine the prefix's registry is private to
// the build tree already.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

class PrivateSettingsRoot : public ::testing::Environment {
 public:
  void SetUp() override {
#ifndef _WIN32
    char folder[] = "/tmp/quorvel-engine-test-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    setenv("CONFIGURATION_DIRECTORY", folder, 1);
    m_folder = folder;
#endif
  }

  void TearDown() override {
    if (!m_folder.empty()) {
      const std::string command = "rm -rf '" + m_folder + "'";
      EXPECT_EQ(std::system(command.c_str()), 0);
    }
  }

 private:
  std::string m_folder;
};

const ::testing::Environment* const g_settingsRoot =
    ::testing::AddGlobalTestEnvironment(new PrivateSettingsRoot);

}  // namespace
