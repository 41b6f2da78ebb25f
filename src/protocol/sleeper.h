// Pauses between retries. Code that retries takes a Sleeper next to its
// Clock, so tests can move a ManualClock instead of waiting.
#pragma once

#include <cstdint>

namespace brindle {

class Sleeper {
  public:
    virtual ~Sleeper() = default;
    virtual void Sleep(uint32_t ms) const = 0;
};

// Sleeps for real.
const Sleeper& SystemSleeper();

} // namespace brindle
