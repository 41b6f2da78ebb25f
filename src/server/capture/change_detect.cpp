#include "server/capture/change_detect.h"

namespace brindle {

bool UpdateHistory(DifferenceHistory& history, int32_t nLevel, int32_t nSensitivity) {
    if (history.nCount < DIFFERENCE_HISTORY_SIZE) {
        ++history.nCount;
    } else {
        history.nTotal -= history.anLevel[history.nOldest];
        history.nOldest = (history.nOldest + 1) % DIFFERENCE_HISTORY_SIZE;
    }
    history.nTotal += nLevel;
    history.anLevel[history.nNext] = nLevel;
    // The entry before the one just written: the previous level, or 0 from
    // the zeroed ring before any history exists.
    int32_t nPrevious =
        history.anLevel[(history.nNext + DIFFERENCE_HISTORY_SIZE - 1) % DIFFERENCE_HISTORY_SIZE];
    history.nNext = (history.nNext + 1) % DIFFERENCE_HISTORY_SIZE;

    int32_t nAverage = history.nTotal / history.nCount;
    int64_t nJump = static_cast<int64_t>(nLevel) - nPrevious;
    if (nJump < 0)
        nJump = -nJump;
    // Compared as unsigned 32-bit numbers, as the levels are never negative.
    uint32_t nLeft = static_cast<uint32_t>(2 * nJump * nSensitivity);
    return nLeft > static_cast<uint32_t>(nAverage);
}

int NextChangeState(int nState, bool fChanged) {
    static const int kNext[5][2] = {
        // not changed, changed
        {0, 3}, // nothing seen yet
        {2, 3}, // change began, candidate held back
        {4, 1}, // change ended, one more image sent
        {2, 3}, // changing, images sent
        {4, 1}, // quiet, nothing sent
    };
    if (nState < 0 || nState > 4)
        nState = 0;
    return kNext[nState][fChanged ? 1 : 0];
}

} // namespace brindle
