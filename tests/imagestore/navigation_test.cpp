#include "imagestore/navigation.h"

#include "imagestore/image_path.h"
#include "support/system_time.h"

#include <gtest/gtest.h>

#include <vector>

namespace brindle {
namespace {

uint64_t Key(uint32_t nDay, uint32_t nTime, uint32_t nMilli = 0) {
    return MakeImageKey(nDay, nTime, nMilli);
}

TEST(FindSkipIndex, StepsThroughTimeWithTheHalfSecondAllowance) {
    const std::vector<uint64_t> keys = {
        Key(20240301, 115859, 600), // 0
        Key(20240301, 115859, 700), // 1
        Key(20240301, 115930),      // 2
        Key(20240301, 120000, 200), // 3
        Key(20240301, 120030),      // 4
        Key(20240301, 120100, 600), // 5
        Key(20240301, 120100, 800), // 6
        Key(20240302, 120000),      // 7
    };
    struct Case {
        int64_t current, offset, expected;
    } cases[] = {
        // One minute back from 12:00:00.200: the earliest image at or after
        // 11:58:59.700 (a minute and half a second back).
        {3, -SKIP_MINUTE, 1},
        {0, -SKIP_MINUTE, 0}, // back from the first image stays there
        {3, SKIP_MINUTE, 5},  // the latest at or before 12:01:00.700
        {7, SKIP_MINUTE, 7},  // forward past the last stays at the last
        {6, SKIP_DAY, 7},
        {7, -SKIP_DAY, 3}, // the earliest at or after 11:59:59.500 the day before
        {4, -SKIP_HOUR, 0},
        {2, 0, 2}, // a zero step stays unless an image is within 0.5 s
        {5, 0, 6},
        {4, -1, 4},             // going back never passes an image that is not earlier
        {100, -SKIP_MINUTE, 7}, // a current index past the end counts as the last
        {-4, SKIP_MINUTE, 2},   // and one before the start as the first
        // Playback after days of suspend at the fastest speed: the offset is
        // saturated and the step lands on the end, not on a wrapped time.
        {0, INT64_MAX, 7},
        {7, -INT64_MAX, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(
            FindSkipIndex(keys.data(), static_cast<int64_t>(keys.size()), c.current, c.offset),
            c.expected)
            << c.current << " " << c.offset;
    EXPECT_EQ(FindSkipIndex(nullptr, 0, 5, -SKIP_DAY), 5);
}

TEST(FindNearestImage, PicksTheCloserNeighbourInTime) {
    const std::vector<uint64_t> keys = {
        Key(20240301, 100000), // 0
        Key(20240301, 115959), // 1
        Key(20240301, 120030), // 2
        Key(20240301, 225950), // 3
        Key(20240301, 230020), // 4
        Key(20240301, 235959), // 5
        Key(20240302, 100),    // 6: 00:01:00
    };
    struct Case {
        uint64_t target;
        int64_t expected;
    } cases[] = {
        {Key(20240301, 90000), 0},       // before the first
        {Key(20240301, 100000), 0},      // the first itself
        {Key(20240303, 0), 6},           // after the last
        {Key(20240301, 120030), 2},      // an image itself
        {Key(20240301, 120000), 1},      // 1 s after 11:59:59, 30 s before 12:00:30
        {Key(20240301, 120015), 2},      // 16 s against 15 s
        {Key(20240301, 120014, 500), 2}, // 15.5 s each: the later one
        {Key(20240302, 10), 5},          // 11 s after midnight's eve, 50 s before
        // 23:00: 10 s after 22:59:50, 20 s before 23:00:20; the hhmmss numbers
        // alone would say 4050 against 20.
        {Key(20240301, 230000), 3},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FindNearestImage(keys.data(), static_cast<int64_t>(keys.size()), c.target),
                  c.expected)
            << ImageKeyDay(c.target) << " " << ImageKeyTime(c.target);
    EXPECT_EQ(FindNearestImage(nullptr, 0, Key(20240301, 0)), 0);
}

TEST(CheckListingTick, ListsHourlyAndRebuildsOnANewDate) {
    struct Step {
        int day, hour, minute;
        ListingTick expected;
    } steps[] = {
        {1, 10, 5, ListingTick::kHour}, // the first reading is an hour change
        {1, 10, 59, ListingTick::kNone}, {1, 11, 0, ListingTick::kHour},
        {1, 11, 30, ListingTick::kNone}, {2, 0, 0, ListingTick::kDate},
        {2, 0, 10, ListingTick::kNone},  {2, 1, 0, ListingTick::kHour},
        {3, 1, 0, ListingTick::kDate}, // same hour on another day
    };
    ListingClock clock;
    for (const Step& s : steps) {
        SystemTime now = test::TimeOf(2024, 3, s.day, s.hour, s.minute);
        EXPECT_EQ(CheckListingTick(clock, now), s.expected) << s.day << " " << s.hour;
    }
}

} // namespace
} // namespace brindle
