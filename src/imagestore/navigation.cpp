#include "imagestore/navigation.h"

#include "imagestore/image_path.h"

#include <algorithm>

namespace brindle {

namespace {

// The time of the last key there can be: a step that lands beyond it (a
// playback step after days of suspend at the fastest speed) ends there.
const int64_t LAST_KEY_TIME =
    static_cast<int64_t>(ImageKeyToFileTime(MakeImageKey(99991231, 235959, 999)));

int64_t StepTarget(uint64_t key, int64_t offset) {
    int64_t time = 0;
    const int64_t allowance = offset < 0 ? -SKIP_ALLOWANCE : SKIP_ALLOWANCE;
    if (__builtin_add_overflow(static_cast<int64_t>(ImageKeyToFileTime(key)), offset, &time) ||
        __builtin_add_overflow(time, allowance, &time))
        time = offset < 0 ? 0 : LAST_KEY_TIME;
    return std::clamp<int64_t>(time, 0, LAST_KEY_TIME);
}

} // namespace

int64_t FindSkipIndex(const uint64_t* keys, int64_t count, int64_t current, int64_t offset) {
    if (count <= 0)
        return current;
    current = std::clamp<int64_t>(current, 0, count - 1);
    const uint64_t target =
        FileTimeToImageKey(static_cast<uint64_t>(StepTarget(keys[current], offset)));
    if (offset < 0) {
        for (int64_t i = current - 1; i >= 0; --i) {
            if (keys[i] < target)
                return i + 1;
        }
        return 0;
    }
    for (int64_t i = current + 1; i < count; ++i) {
        if (keys[i] > target)
            return i - 1;
    }
    return count - 1;
}

int64_t FindNearestImage(const uint64_t* keys, int64_t count, uint64_t target) {
    if (count <= 0 || target <= keys[0])
        return 0;
    if (target >= keys[count - 1])
        return count - 1;
    // keys[lo] < target <= keys[hi]
    int64_t lo = 0, hi = count - 1;
    while (hi - lo > 1) {
        const int64_t mid = lo + (hi - lo) / 2;
        if (keys[mid] < target)
            lo = mid;
        else
            hi = mid;
    }
    const uint64_t at = ImageKeyToFileTime(target);
    const uint64_t before = at - ImageKeyToFileTime(keys[lo]);
    const uint64_t after = ImageKeyToFileTime(keys[hi]) - at;
    return before < after ? lo : hi;
}

ListingTick CheckListingTick(ListingClock& clock, const SystemTime& now) {
    const SystemTime& last = clock.last;
    const bool fNewDate =
        now.wYear != last.wYear || now.wMonth != last.wMonth || now.wDay != last.wDay;
    if (clock.fSet && !fNewDate && now.wHour == last.wHour)
        return ListingTick::kNone;
    const bool fFirst = !clock.fSet;
    clock.fSet = true;
    clock.last = now;
    return fFirst || !fNewDate ? ListingTick::kHour : ListingTick::kDate;
}

} // namespace brindle
