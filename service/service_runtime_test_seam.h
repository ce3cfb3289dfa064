// Test seam of the service runtime: lets a test watch a lost device being
// tried again without waiting the real pause between tries. Only tests and
// the runtime include this.
#pragma once

#include <cstdint>

// 0 puts back the real pause.
void ShortenReconnectPauseForTests(std::uint32_t milliseconds);
