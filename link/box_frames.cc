#include "link/box_frames.h"

namespace box_frames {

std::uint8_t Checksum(const std::uint8_t* bytes, std::size_t count) {
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < count; ++i)
    sum = static_cast<std::uint8_t>(sum + bytes[i]);
  return sum;
}

bool HasValidChecksum(const std::uint8_t* frame, std::size_t length) {
  if (length < 2) return false;
  return Checksum(frame, length - 1) == frame[length - 1];
}

std::size_t CompleteFrame(std::uint8_t* frame) {
  const std::size_t length = FrameLength(frame[0]);
  frame[length - 1] = Checksum(frame, length - 1);
  return length;
}

bool IsAcceptedReplyHeader(std::uint8_t header) {
  const int kind = Kind(header);
  const int n = LengthCode(header);
  return (kind == kHelloReplyKind || kind == kTimeCodeReplyKind) &&
         (n == 0 || n == 2 || n == 4 || n == 8);
}

void BuildTimeCodeReply(std::uint32_t code, std::uint8_t byte1,
                        std::uint8_t reply[kTimeCodeReplyLength]) {
  reply[0] = kTimeCodeReplyHeader;
  reply[1] = byte1;
  for (std::size_t i = 0; i < 4; ++i)
    reply[kTimeCodeFirstByte + i] = static_cast<std::uint8_t>(code >> (8 * i));
  CompleteFrame(reply);
}

}  // namespace box_frames
