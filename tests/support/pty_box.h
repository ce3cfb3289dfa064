// The box simulator's own box on the master side of a pseudo-terminal, for
// the tests that drive the real termios backend on the slave side. A peer
// thread feeds what the link writes to the box's request parser and writes
// the box's answers back; the box is steered with its own command language.
// The one thing the command language cannot ask for, a reply that stalls
// partway, is a scripting hook of the pump's.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/steady_ms.h"
#include "tools/boxsim/boxsim_core.h"

namespace fakes {

class PtyBox {
 public:
  using Bytes = boxsim::Bytes;

  // A PAL box whose time of day stands still, so its answers are the same
  // from one request to the next.
  PtyBox() : box_({boxsim::Mode::kPal, 0}, [] { return std::uint8_t{0xA5}; }) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    slave_ = ptsname(master_);
    termios tio;
    tcgetattr(master_, &tio);
    cfmakeraw(&tio);
    tcsetattr(master_, TCSANOW, &tio);
    thread_ = std::thread([this] { Run(); });
  }
  ~PtyBox() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (master_ >= 0) close(master_);
  }
  PtyBox(const PtyBox&) = delete;
  PtyBox& operator=(const PtyBox&) = delete;

  bool ok() const { return master_ >= 0 && !slave_.empty(); }
  const std::string& slavePath() const { return slave_; }

  // A command of the simulator's own language: "silence on", "reply 55", ...
  void Do(const std::string& command) {
    boxsim::Command parsed;
    std::string error;
    if (!boxsim::ParseCommand(command, &parsed, &error)) std::abort();
    std::lock_guard<std::mutex> lock(mutex_);
    box_.Apply(parsed);
  }
  // The next answer goes out as its first `headBytes`, a pause, the rest.
  void StallNextAnswer(std::size_t headBytes, int pauseMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    stallAfter_ = headBytes;
    stallMs_ = pauseMs;
  }

  Bytes Received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }
  // Answers whose last byte has gone out.
  int AnswersSent() {
    std::lock_guard<std::mutex> lock(mutex_);
    return answersSent_;
  }

 private:
  void Run() {
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 5) <= 0) {
        // The line went quiet: a partial frame will not be completed.
        AnswerWholeFrames(parser_.Flush());
        continue;
      }
      std::uint8_t buffer[64];
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) {
        // No slave open yet, or it closed: wait for the next opener.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        continue;
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.insert(received_.end(), buffer, buffer + n);
      }
      AnswerWholeFrames(parser_.Feed(buffer, static_cast<std::size_t>(n)));
    }
  }

  void AnswerWholeFrames(
      const std::vector<boxsim::RequestParser::Event>& events) {
    for (const auto& event : events)
      if (event.complete) Send(Respond(event.bytes));
  }

  Bytes Respond(const Bytes& request) {
    std::lock_guard<std::mutex> lock(mutex_);
    return box_.Respond(request, kStillTime).tx;
  }

  void Send(const Bytes& answer) {
    std::size_t head = answer.size();
    int pauseMs = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stallAfter_ < head) {
        head = stallAfter_;
        pauseMs = stallMs_;
      }
      stallAfter_ = kNoStall;
    }
    Write(answer.data(), head);
    std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    Write(answer.data() + head, answer.size() - head);
    std::lock_guard<std::mutex> lock(mutex_);
    ++answersSent_;
  }

  // With nobody on the slave side the bytes are lost, as on a real line.
  void Write(const std::uint8_t* bytes, std::size_t count) {
    if (count > 0 && write(master_, bytes, count) < 0) errno = 0;
  }

  static constexpr boxsim::TimeOfDay kStillTime = {23, 56, 34, 480};
  static constexpr std::size_t kNoStall = ~std::size_t{0};

  boxsim::SimulatedBox box_;
  boxsim::RequestParser parser_;  // the pump thread's alone
  int master_ = -1;
  std::string slave_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  Bytes received_;
  int answersSent_ = 0;
  std::size_t stallAfter_ = kNoStall;
  int stallMs_ = 0;
};

}  // namespace fakes
