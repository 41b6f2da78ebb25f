#include "server/connections/login_pacer.h"

#include "common/ini_text.h"

#include <algorithm>

namespace brindle {

uint32_t LoginPacer::DelayAfter(uint32_t nFailures) {
    if (nFailures == 0)
        return 0;
    uint32_t nDelay = FIRST_DELAY_MS;
    for (uint32_t i = 1; i < nFailures && nDelay < LONGEST_DELAY_MS; ++i)
        nDelay *= 2;
    return std::min(nDelay, LONGEST_DELAY_MS);
}

LoginPacer::Entry* LoginPacer::Find(const std::string& cPeer) {
    for (Entry& entry : entries_) {
        if (IniNameEqual(entry.cPeer, cPeer))
            return &entry;
    }
    return nullptr;
}

bool LoginPacer::Forgotten(const Entry& entry, uint32_t nNow) const {
    return nNow - entry.nLastFailure > DelayAfter(entry.nFailures) + BURST_FORGOTTEN_MS;
}

uint32_t LoginPacer::Delay(const std::string& cPeer) {
    std::lock_guard<std::mutex> lock(lock_);
    const Entry* entry = Find(cPeer);
    if (entry == nullptr)
        return 0;
    uint32_t nElapsed = clock_.Tick() - entry->nLastFailure;
    uint32_t nDelay = DelayAfter(entry->nFailures);
    return nElapsed >= nDelay ? 0 : nDelay - nElapsed;
}

bool LoginPacer::Failed(const std::string& cPeer) {
    std::lock_guard<std::mutex> lock(lock_);
    uint32_t nNow = clock_.Tick();
    Entry* entry = Find(cPeer);
    if (entry != nullptr && Forgotten(*entry, nNow))
        entry->nFailures = 0;
    if (entry == nullptr) {
        if (entries_.size() >= PEERS_KEPT) {
            auto oldest = std::max_element(entries_.begin(), entries_.end(),
                                           [nNow](const Entry& a, const Entry& b) {
                                               return nNow - a.nLastFailure < nNow - b.nLastFailure;
                                           });
            entries_.erase(oldest);
        }
        entries_.push_back(Entry{cPeer, 0, nNow});
        entry = &entries_.back();
    }
    entry->nLastFailure = nNow;
    if (entry->nFailures < 32)
        ++entry->nFailures;
    return entry->nFailures == 1;
}

void LoginPacer::Succeeded(const std::string& cPeer) {
    std::lock_guard<std::mutex> lock(lock_);
    std::erase_if(entries_, [&](const Entry& entry) { return IniNameEqual(entry.cPeer, cPeer); });
}

} // namespace brindle
