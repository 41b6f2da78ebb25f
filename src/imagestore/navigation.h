// Finding images in time over a list of image keys in ascending order.
// Pure functions: the viewer keeps the list, these only look at it.
#pragma once

#include "platform/clock.h"

#include <cstdint>

namespace brindle {

// Half a second in 100 ns units: a step in time lands this much further,
// so that images taken a little off the full second are still found.
inline constexpr int64_t SKIP_ALLOWANCE = 5000000;

// Time steps of the viewer in 100 ns units.
inline constexpr int64_t SKIP_MINUTE = 600000000LL;
inline constexpr int64_t SKIP_HOUR = 36000000000LL;
inline constexpr int64_t SKIP_DAY = 864000000000LL;

// The index reached from `current` by a step of `offset` 100 ns units
// (negative: earlier). Going back it is the earliest image at or after
// (current time + offset - 0.5 s), but never after `current`; going forward
// (offset zero or more) the latest image at or before (current time + offset
// + 0.5 s), but never before `current`. A `current` outside the list is taken
// as its nearest end; an empty list returns `current` unchanged.
int64_t FindSkipIndex(const uint64_t* keys, int64_t count, int64_t current, int64_t offset);

// The image nearest to `target` (an image key) for the date dialog: 0 when
// the target is not after the first image, count - 1 when it is not before the
// last, else whichever neighbour is closer in time, the later one on a tie.
// Returns 0 for an empty list.
int64_t FindNearestImage(const uint64_t* keys, int64_t count, uint64_t target);

// When the programs' timers list again: the first reading, a new hour, or a
// new date. A new date resets the whole list so that the first listing of the
// day rebuilds it; at other hours only the last listed day and the days after
// it are listed again.
enum class ListingTick { kNone, kHour, kDate };

struct ListingClock {
    bool fSet = false;
    SystemTime last{};
};

// Compares `now` with the last reading and remembers it when the hour or the
// date changed. The first reading is an hour change, never a date change.
ListingTick CheckListingTick(ListingClock& clock, const SystemTime& now);

} // namespace brindle
