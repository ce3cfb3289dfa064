// Runs a fuzz target over files and folders of inputs, once each, in name
// order: the checked-in corpora become a deterministic test in the ordinary
// builds, under the sanitizers in the sanitizer build.
#include <dirent.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc,
                                                          char*** argv);

namespace {

std::vector<std::string> InputsIn(const std::string& path) {
  DIR* folder = opendir(path.c_str());
  if (folder == nullptr) return {path};
  std::vector<std::string> files;
  while (const dirent* entry = readdir(folder)) {
    if (entry->d_name[0] != '.') files.push_back(path + "/" + entry->d_name);
  }
  closedir(folder);
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  int replayed = 0;
  for (int i = 1; i < argc; ++i) {
    for (const std::string& file : InputsIn(argv[i])) {
      std::ifstream in(file, std::ios::binary);
      if (!in) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return 1;
      }
      const std::vector<std::uint8_t> input{std::istreambuf_iterator<char>(in),
                                            std::istreambuf_iterator<char>()};
      // libFuzzer never hands over a null pointer, not even for no bytes.
      static const std::uint8_t kNothing = 0;
      LLVMFuzzerTestOneInput(input.empty() ? &kNothing : input.data(),
                             input.size());
      ++replayed;
    }
  }
  std::printf("replayed %d inputs\n", replayed);
  return replayed > 0 ? 0 : 1;
}
