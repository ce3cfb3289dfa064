#include "service/chrony_feed.h"

CChronyFeed::CChronyFeed()
    : m_path(platform::RefclockSocketPath()),
      m_active(platform::RefclockSocketExists(m_path)),
      m_sender(m_path) {}

void CChronyFeed::AfterPoll(const PollTiming& poll) {
  if (!m_active || !m_estimator.Observe(poll)) return;
  if (m_sender.Send(m_estimator.SampleUtcUs(), m_estimator.OffsetUs())) {
    ++m_samplesTaken;
  }
}
