// A broken invariant ends the run loudly, in the fuzzer and in the replay
// alike, with the condition that failed.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                         \
  do {                                                                \
    if (!(condition)) {                                               \
      std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, \
                   #condition);                                       \
      std::abort();                                                   \
    }                                                                 \
  } while (0)
