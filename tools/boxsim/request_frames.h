// The simulator's side of the frames: the requests it knows and the parsing
// of a byte stream that has no start marker into request frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

#include "link/box_frames.h"

namespace boxsim {

using Bytes = std::vector<std::uint8_t>;

// True when the last byte is the sum of the others.
bool HasValidChecksum(const Bytes& frame);

// Appends the checksum to header and data bytes.
Bytes WithChecksum(Bytes body);

inline const Bytes kHelloRequest(std::begin(box_frames::kHelloRequest),
                                 std::end(box_frames::kHelloRequest));
inline const Bytes kHelloReply(std::begin(box_frames::kHelloReply),
                               std::end(box_frames::kHelloReply));
inline const Bytes kQueryRequest(std::begin(box_frames::kTimeCodeRequest),
                                 std::end(box_frames::kTimeCodeRequest));

// Splits the incoming byte stream into request frames. The line has no start
// marker, so after a frame with a wrong checksum the parser drops only its
// first byte and looks for a frame in what follows; a partial frame left
// waiting when the line goes quiet is dropped by Flush().
class RequestParser {
 public:
  struct Event {
    Bytes bytes;
    bool complete;  // a whole frame with a valid checksum
  };

  // Takes new bytes; returns the frames and the bytes thrown away, in order.
  std::vector<Event> Feed(const std::uint8_t* bytes, std::size_t count);
  // Gives up on a partial frame once the line has gone quiet; returns any
  // frames found in its bytes and the bytes thrown away.
  std::vector<Event> Flush();
  bool HasPartial() const { return !pending_.empty(); }

 private:
  Bytes pending_;
  Bytes discarded_;
};

enum class RequestKind { kHello, kQuery, kUnknown };
RequestKind ClassifyRequest(const Bytes& frame);

}  // namespace boxsim
