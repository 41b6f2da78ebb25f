// Pacing of password guesses: after a failed log-in, the next attempt from
// the same peer address is answered later and later (1 s, doubling up to
// 30 s) until one succeeds. Other addresses are not slowed. Nothing changes
// on the wire: the answer only comes later.
#pragma once

#include "platform/clock.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace brindle {

class LoginPacer {
  public:
    static constexpr uint32_t FIRST_DELAY_MS = 1000;
    static constexpr uint32_t LONGEST_DELAY_MS = 30000;
    // A failure this long after the previous one starts a new burst.
    static constexpr uint32_t BURST_FORGOTTEN_MS = 10 * 60 * 1000;
    // Addresses remembered at once; the one that failed longest ago goes.
    static constexpr size_t PEERS_KEPT = 256;

    explicit LoginPacer(const Clock& clock) : clock_(clock) {}

    // Milliseconds the next log-in step of cPeer must still wait (0: none).
    uint32_t Delay(const std::string& cPeer);
    // A wrong digest from cPeer. True when it begins a burst of failures
    // (the caller logs that once).
    bool Failed(const std::string& cPeer);
    // A successful log-in ends the burst of cPeer.
    void Succeeded(const std::string& cPeer);

  private:
    struct Entry {
        std::string cPeer;
        uint32_t nFailures = 0;
        uint32_t nLastFailure = 0; // tick
    };
    static uint32_t DelayAfter(uint32_t nFailures);
    Entry* Find(const std::string& cPeer);
    bool Forgotten(const Entry& entry, uint32_t nNow) const;

    const Clock& clock_;
    std::mutex lock_;
    std::vector<Entry> entries_;
};

} // namespace brindle
