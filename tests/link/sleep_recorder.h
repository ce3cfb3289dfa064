// A clock for link tests that never sleeps: it only notes each wait, so the
// 300 ms settle and the handshake's pauses can be counted without spending
// them. Reading or setting the time through it is a test fault.
#pragma once

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "platform/clock.h"

class SleepRecorder : public platform::ClockBackend {
 public:
  SleepRecorder() { platform::UseClockBackend(this); }
  ~SleepRecorder() override { platform::UseClockBackend(nullptr); }

  void GetLocalTime(platform::SYSTEMTIME*) override { ADD_FAILURE(); }
  void GetSystemTime(platform::SYSTEMTIME*) override { ADD_FAILURE(); }
  int SetLocalTime(const platform::SYSTEMTIME&) override {
    ADD_FAILURE();
    return 0;
  }
  int SetSystemTime(const platform::SYSTEMTIME&) override {
    ADD_FAILURE();
    return 0;
  }
  void Sleep(std::uint32_t milliseconds) override {
    sleeps.push_back(milliseconds);
  }

  std::uint32_t TotalMs() const {
    std::uint32_t total = 0;
    for (std::uint32_t s : sleeps) total += s;
    return total;
  }

  std::vector<std::uint32_t> sleeps;
};
