// The simulator's end of the serial line: a pseudo-terminal that it creates,
// or a real serial device, optionally published under a symbolic link.
#pragma once

#include <cstdint>
#include <string>

namespace boxsim {

class SerialLine {
 public:
  SerialLine() = default;
  ~SerialLine();
  SerialLine(const SerialLine&) = delete;
  SerialLine& operator=(const SerialLine&) = delete;

  // Creates a pseudo-terminal in raw mode, in group dialout with mode 0660
  // as serial devices are. The simulator keeps the slave side open itself,
  // so programs may open and close it as often as they like without the
  // master seeing a hang-up or the raw settings being lost.
  bool OpenPseudoTerminal(std::string* error);
  // Opens a serial device in raw mode, 38400 baud 8O1.
  bool OpenDevice(const std::string& path, std::string* error);

  // Makes `path` a symbolic link to the line, creating parent folders and
  // replacing an older link (never a file or folder of another kind).
  bool Publish(const std::string& path, std::string* error);

  // Removes the link (when it still points at this line) and closes the line.
  void Close();

  int fd() const { return fd_; }
  const std::string& name() const { return name_; }

  // Writes bytes one by one, each when a 38400 baud 8O1 line would have
  // finished sending it, the first after `turnaroundNs` from `startNs` (both
  // on CLOCK_MONOTONIC), the rest `gapNs` later still. Returns false when the
  // line refused a byte.
  bool WritePaced(const std::uint8_t* bytes, std::size_t count,
                  std::int64_t startNs, std::int64_t turnaroundNs,
                  std::int64_t gapNs);

 private:
  int fd_ = -1;
  int slaveFd_ = -1;
  std::string name_;
  std::string linkPath_;
};

// CLOCK_MONOTONIC in nanoseconds.
std::int64_t MonotonicNs();

}  // namespace boxsim
