// Keeps a Wine prefix busy for the given number of seconds. Wine ends its
// services once no ordinary program runs in the prefix, so the service tests
// start this first and leave it running while the service lives.
#include <chrono>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  return 0;
}
