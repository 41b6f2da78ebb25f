// Waiting for something another thread or process does.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace brindle::test {

// Polls `done` every `pollMs` until it holds or `limitMs` has passed; true
// when it held. The limit is a safety net for a test that fails, never a
// delay a passing test waits out. A costly `done` wants a longer poll.
inline bool WaitUntil(const std::function<bool()>& done, int limitMs = 20000, int pollMs = 2) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    }
    return true;
}

} // namespace brindle::test
