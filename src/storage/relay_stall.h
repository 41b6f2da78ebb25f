// Files whose fetch keeps failing.
//
// A fetch that stalls, times out at the longest limit, gets a broken answer
// or a kept error status leaves its file first in the list; without a count
// every later file would wait behind it for ever. The third consecutive
// failure on one file marks it broken, and it is moved aside (or removed).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brindle {

inline constexpr int RELAY_STALLS_BROKEN = 3;
// RecvTimeout grows after each time-out, but not beyond this.
inline constexpr uint32_t RELAY_RECV_TIMEOUT_MAX = 300000;

class StallTracker {
  public:
    // One more failure of the file at `path`; true when it is the third in a
    // row on that file. A failure on another file starts the count anew.
    bool Stalled(std::string_view path) {
        if (path != path_) {
            path_.assign(path);
            nCount_ = 0;
        }
        return ++nCount_ >= RELAY_STALLS_BROKEN;
    }
    // The file at `path` was fetched or removed.
    void Forget(std::string_view path) {
        if (path == path_) {
            path_.clear();
            nCount_ = 0;
        }
    }
    int Count() const { return nCount_; }

  private:
    std::string path_;
    int nCount_ = 0;
};

inline uint32_t CappedRecvTimeout(uint32_t nTimeout) {
    return nTimeout > RELAY_RECV_TIMEOUT_MAX ? RELAY_RECV_TIMEOUT_MAX : nTimeout;
}

} // namespace brindle
