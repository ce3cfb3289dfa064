// The built simulator's command line and ending, beyond the box it plays for
// the pseudo-terminal link test and every program test of the other tiers.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// The exit status of a shell command line, or -1 when it did not end.
int StatusOf(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Each run's status once its standard input ends; a file in the link's place
// is never touched. Without --stdin-quit it goes on until a signal, which
// ends it cleanly.
TEST(BoxsimProgram, EndsWithTheStatusOfItsArgumentsOrOnASignal) {
  char pattern[] = "/tmp/boxsim-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string folder = pattern;
  const std::string file = folder + "/notes", script = folder + "/bad.txt";
  std::ofstream(file) << "keep me";
  std::ofstream(script) << "1 bogus\n";
  const struct {
    std::string args;
    int status;
  } runs[] = {
      {"--help", 0},         {"--stdin-quit", 0},
      {"--link " + file, 1}, {"--script " + script, 2},
      {"--link", 2},         {"--stdin-quit --seed x", 2},
  };
  for (const auto& run : runs) {
    EXPECT_EQ(
        StatusOf(BOXSIM_PATH " " + run.args + " </dev/null >/dev/null 2>&1"),
        run.status)
        << run.args;
  }
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(StatusOf("timeout -k 5 --preserve-status -s INT 0.3 " BOXSIM_PATH
                     " --quiet </dev/null"),
            0);
  EXPECT_GE(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(300));
  std::stringstream kept;
  kept << std::ifstream(file).rdbuf();
  EXPECT_EQ(kept.str(), "keep me");
  std::filesystem::remove_all(folder);
}

}  // namespace
