// Ventrel's command line: the input, split at NUL bytes, is the argument
// list after the program's name. The option found must be exactly the word
// that the first argument spells after its '-' or '/', letters A-Z in either
// case, and nothing else may select one.
#include <strings.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "service/command_line.h"

namespace {

VentrelOption Expected(const std::vector<std::string>& args) {
  if (args.size() < 2) return VentrelOption::kNone;
  const std::string& first = args[1];
  if (first.empty() || (first[0] != '-' && first[0] != '/'))
    return VentrelOption::kNone;
  const char* word = first.c_str() + 1;
  if (strcasecmp(word, "load") == 0) return VentrelOption::kLoad;
  if (strcasecmp(word, "unload") == 0) return VentrelOption::kUnload;
  if (strcasecmp(word, "help") == 0) return VentrelOption::kHelp;
  if (strcasecmp(word, "debug") == 0) return VentrelOption::kDebug;
  return VentrelOption::kNone;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  std::vector<std::string> args{"ventrel"};
  if (size > 0) {
    args.emplace_back();
    for (std::size_t i = 0; i < size; ++i) {
      if (data[i] == 0) {
        args.emplace_back();
      } else {
        args.back() += static_cast<char>(data[i]);
      }
    }
  }
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  argv.push_back(nullptr);
  const VentrelOption found =
      ParseVentrelOption(static_cast<int>(args.size()), argv.data());
  FUZZ_CHECK(found == Expected(args));
  return 0;
}
