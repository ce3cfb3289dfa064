// A box stand-in on the master side of a pseudo-terminal, and a temporary
// settings root whose dosdevices/com1 points at the slave, so that
// CSerialPort::Open(1) reaches the peer through the real termios backend.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/box_frames.h"
#include "platform/settings_store.h"
#include "tests/support/settings_sandbox.h"

namespace pty_test {

using Bytes = std::vector<std::uint8_t>;

// One piece of an answer, sent after a pause.
struct Chunk {
  int delayMs;
  Bytes bytes;
};
using Answer = std::vector<Chunk>;
// Given one whole request frame, returns what the box sends back.
using Responder = std::function<Answer(const Bytes& request)>;

inline std::int64_t MonotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

class PtyPeer {
 public:
  explicit PtyPeer(Responder responder) : responder_(std::move(responder)) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    slave_ = ptsname(master_);
    termios tio;
    tcgetattr(master_, &tio);
    cfmakeraw(&tio);
    tcsetattr(master_, TCSANOW, &tio);
    thread_ = std::thread([this] { Run(); });
  }
  ~PtyPeer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (master_ >= 0) close(master_);
  }

  bool ok() const { return master_ >= 0 && !slave_.empty(); }
  const std::string& slavePath() const { return slave_; }

  Bytes Received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }
  int RequestCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  void SetResponder(Responder responder) {
    std::lock_guard<std::mutex> lock(mutex_);
    responder_ = std::move(responder);
  }

 private:
  void Run() {
    Bytes pending;
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 5) <= 0) continue;
      std::uint8_t buffer[64];
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) {
        // No slave open yet, or it closed: wait for the next opener.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        continue;
      }
      pending.insert(pending.end(), buffer, buffer + n);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.insert(received_.end(), buffer, buffer + n);
      }
      AnswerWholeFrames(&pending);
    }
  }

  void AnswerWholeFrames(Bytes* pending) {
    while (!pending->empty()) {
      const std::size_t length = box_frames::FrameLength((*pending)[0]);
      if (pending->size() < length) return;
      const Bytes request(pending->begin(), pending->begin() + length);
      pending->erase(pending->begin(), pending->begin() + length);
      Answer answer;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ++requests_;
        answer = responder_(request);
      }
      for (const Chunk& chunk : answer) {
        if (chunk.delayMs > 0)
          std::this_thread::sleep_for(std::chrono::milliseconds(chunk.delayMs));
        if (!chunk.bytes.empty() &&
            write(master_, chunk.bytes.data(), chunk.bytes.size()) < 0)
          return;
      }
    }
  }

  Responder responder_;
  int master_ = -1;
  std::string slave_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  Bytes received_;
  int requests_ = 0;
};

// A fresh settings root whose dosdevices/com1 points at the target.
class TempSettingsRoot {
 public:
  explicit TempSettingsRoot(const std::string& com1Target) {
    settings_sandbox::Reset();
    const std::string devices =
        std::string(platform::SettingsRoot()) + "/dosdevices";
    mkdir(devices.c_str(), 0700);
    if (symlink(com1Target.c_str(), (devices + "/com1").c_str()) != 0) abort();
  }
};

}  // namespace pty_test
