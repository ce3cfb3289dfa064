// Ventrel as a reference clock for chrony: when chrony's socket for it is
// there at the worker's start, every poll with a running code becomes one
// sample on it, and the clock is left to chrony for the whole run. Without
// the socket nothing changes.
#pragma once

#include <string>

#include "clock/poll_timing.h"
#include "clock/sub_frame_estimator.h"
#include "platform/refclock_socket.h"

class CChronyFeed {
 public:
  // Looks for the socket once: the role holds until the worker ends, also
  // while chrony restarts and its socket is briefly gone.
  CChronyFeed();

  bool Active() const { return m_active; }
  const std::string& Path() const { return m_path; }
  // Samples sent that chrony took, for the owner's figures.
  unsigned long SamplesTaken() const { return m_samplesTaken; }

  void AfterPoll(const PollTiming& poll);

 private:
  std::string m_path;
  bool m_active;
  CSubFrameEstimator m_estimator;
  platform::RefclockSender m_sender;
  unsigned long m_samplesTaken = 0;
};

// The journal's note of the role, once at start.
inline constexpr char kChronyFeedText[] =
    "Ventrel - time code samples go to chrony at %s; chrony keeps the clock, "
    "Ventrel does not set it";
