// Holds the threads that pass it for chosen keys (a camera's frame cycle,
// say) until it opens, and counts the passes it held.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace brindle::test {

class CycleGate {
  public:
    void Close(int nKey) {
        std::lock_guard<std::mutex> guard(lock_);
        closed_.push_back(nKey);
    }
    void Open() {
        std::lock_guard<std::mutex> guard(lock_);
        closed_.clear();
        changed_.notify_all();
    }
    // Waits while nKey is closed.
    void Pass(int nKey) {
        std::unique_lock<std::mutex> guard(lock_);
        if (!IsClosed(nKey))
            return;
        ++nHeld_;
        changed_.wait(guard, [&] { return !IsClosed(nKey); });
    }
    // Passes held so far (those still waiting included).
    int Held() {
        std::lock_guard<std::mutex> guard(lock_);
        return nHeld_;
    }

  private:
    bool IsClosed(int nKey) const {
        return std::find(closed_.begin(), closed_.end(), nKey) != closed_.end();
    }
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<int> closed_;
    int nHeld_ = 0;
};

} // namespace brindle::test
