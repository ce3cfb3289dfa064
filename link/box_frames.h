// The box's frames, as both ends of the line see them: a header whose high
// nibble is the frame's kind and whose low nibble is a length code n, then
// n+1 data bytes, then the 8-bit sum of all bytes before it. The link, the
// box simulator and the tests all build and check frames here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace box_frames {

constexpr int Kind(std::uint8_t header) { return header >> 4; }
constexpr int LengthCode(std::uint8_t header) { return header & 0x0F; }
// The line has no start marker: a frame's length follows from its header.
constexpr std::size_t FrameLength(std::uint8_t header) {
  return static_cast<std::size_t>(LengthCode(header)) + 3;
}
inline constexpr std::size_t kMaxFrameLength = 18;  // length code 15

enum : int {
  kHelloReplyKind = 1,
  kHelloRequestKind = 2,
  kTimeCodeRequestKind = 6,
  kTimeCodeReplyKind = 7,
};

// The two exchanges the box knows, checksums included.
inline constexpr std::uint8_t kHelloRequest[] = {0x20, 0x01, 0x21};
inline constexpr std::uint8_t kHelloReply[] = {0x10, 0x01, 0x11};
inline constexpr std::uint8_t kTimeCodeRequest[] = {0x61, 0x0C, 0x03, 0x70};

// The time code reply: 74 <byte1> FF SS MM HH <checksum>, the four code bytes
// in packed BCD, frames first.
inline constexpr std::uint8_t kTimeCodeReplyHeader = 0x74;
inline constexpr std::size_t kTimeCodeReplyLength = 7;
inline constexpr std::size_t kTimeCodeFirstByte = 2;

std::uint8_t Checksum(const std::uint8_t* bytes, std::size_t count);

// True when the last of `length` bytes is the sum of those before it.
bool HasValidChecksum(const std::uint8_t* frame, std::size_t length);

// Writes the checksum after the header and data bytes that `frame` holds;
// returns the frame's whole length. `frame` needs room for it.
std::size_t CompleteFrame(std::uint8_t* frame);

// The box answers only with kind 1 or 7 and length codes 0, 2, 4 or 8; the
// link refuses any other header before reading on.
bool IsAcceptedReplyHeader(std::uint8_t header);

// A time code reply for a code word that holds frames in its lowest byte and
// hours in its highest.
void BuildTimeCodeReply(std::uint32_t code, std::uint8_t byte1,
                        std::uint8_t reply[kTimeCodeReplyLength]);

}  // namespace box_frames
