// Change detection: the history of the last 100 difference levels and the
// change state that decides which frames are kept.
//
// A change is a sudden jump of the difference level against its own recent
// average, not a high level: steady sensor noise or a steady motion does
// not count, the start and the end of a motion do.
#pragma once

#include <cstdint>

namespace brindle {

inline constexpr int DIFFERENCE_HISTORY_SIZE = 100;

struct DifferenceHistory {
    int32_t anLevel[DIFFERENCE_HISTORY_SIZE] = {};
    int32_t nTotal = 0;  // sum of the levels held
    int32_t nCount = 0;  // levels held, at most 100
    int32_t nOldest = 0; // index of the oldest level once the ring is full
    int32_t nNext = 0;   // index where the next level goes
};

// Adds level D to the history and reports whether it is a change at the
// given sensitivity (0 never reports one; 9 reports the smallest jumps).
bool UpdateHistory(DifferenceHistory& history, int32_t nLevel, int32_t nSensitivity);

// Change state bits: bit 0 a change was detected this cycle (drives the
// "検出" indicator); bit 1 the held-back candidate frame is processed.
inline constexpr int CHANGE_DETECTED = 1;
inline constexpr int CHANGE_USE_CANDIDATE = 2;

// The next change state (0 to 4) after a cycle that did or did not see a
// change. A state outside 0 to 4 is treated as 0.
int NextChangeState(int nState, bool fChanged);

} // namespace brindle
