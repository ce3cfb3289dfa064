#include "tools/boxsim/request_frames.h"

namespace boxsim {

bool HasValidChecksum(const Bytes& frame) {
  return box_frames::HasValidChecksum(frame.data(), frame.size());
}

Bytes WithChecksum(Bytes body) {
  body.push_back(box_frames::Checksum(body.data(), body.size()));
  return body;
}

std::vector<RequestParser::Event> RequestParser::Feed(const std::uint8_t* bytes,
                                                      std::size_t count) {
  pending_.insert(pending_.end(), bytes, bytes + count);
  std::vector<Event> events;
  while (!pending_.empty()) {
    const std::size_t length = box_frames::FrameLength(pending_[0]);
    if (pending_.size() < length) break;
    Bytes frame(pending_.begin(), pending_.begin() + length);
    if (HasValidChecksum(frame)) {
      if (!discarded_.empty()) {
        events.push_back({std::move(discarded_), false});
        discarded_.clear();
      }
      events.push_back({std::move(frame), true});
      pending_.erase(pending_.begin(), pending_.begin() + length);
    } else {
      // No start marker: the frame may begin at any later byte.
      discarded_.push_back(pending_[0]);
      pending_.erase(pending_.begin());
    }
  }
  // Bytes given up on are reported once it is clear that nothing pending
  // could still turn them into part of a frame.
  if (pending_.empty() && !discarded_.empty()) {
    events.push_back({std::move(discarded_), false});
    discarded_.clear();
  }
  return events;
}

std::vector<RequestParser::Event> RequestParser::Flush() {
  std::vector<Event> events;
  // Nothing more will complete the partial frame, but a whole frame may hide
  // behind a stray header that announced a longer one.
  while (!pending_.empty()) {
    discarded_.push_back(pending_[0]);
    Bytes rest(pending_.begin() + 1, pending_.end());
    pending_.clear();
    std::vector<Event> found = Feed(rest.data(), rest.size());
    events.insert(events.end(), found.begin(), found.end());
  }
  if (!discarded_.empty()) {
    events.push_back({std::move(discarded_), false});
    discarded_.clear();
  }
  return events;
}

RequestKind ClassifyRequest(const Bytes& frame) {
  if (frame == kHelloRequest) return RequestKind::kHello;
  if (frame == kQueryRequest) return RequestKind::kQuery;
  return RequestKind::kUnknown;
}

}  // namespace boxsim
