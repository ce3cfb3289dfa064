// Writes the systemd unit that the Debian package installs, from the same
// text that `ventrel -load` writes, so the two can never drift apart. Run at
// build time only; it is not installed.
//   quorvel_unit_writer PROGRAM_PATH OUTPUT_FILE
#include <cstdio>
#include <string>

#include "service/systemd_unit.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s PROGRAM_PATH OUTPUT_FILE\n", argv[0]);
    return 2;
  }
  const std::string unit = RenderUnit(argv[1]);
  std::FILE* output = std::fopen(argv[2], "wb");
  if (output == nullptr) {
    std::perror(argv[2]);
    return 1;
  }
  const bool written =
      std::fwrite(unit.data(), 1, unit.size(), output) == unit.size();
  if (std::fclose(output) != 0 || !written) {
    std::perror(argv[2]);
    return 1;
  }
  return 0;
}
