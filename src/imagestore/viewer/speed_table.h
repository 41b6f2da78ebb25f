// The playback speeds of the viewer: recorded seconds per second of
// playback, with the menu ids of the rewind and forward submenus.
#pragma once

#include <cstdint>

namespace brindle {

struct PlaybackSpeed {
    uint32_t nSecondsPerSecond;
    int nRewindId;
    int nForwardId;
};

inline constexpr int SPEED_COUNT = 27;

inline constexpr PlaybackSpeed SPEED_TABLE[SPEED_COUNT] = {
    {1, 31000, 31100},      {2, 31001, 31101},       {5, 31002, 31102},
    {10, 31003, 31103},     {15, 31004, 31104},      {20, 31005, 31105},
    {30, 31006, 31106},     {40, 31007, 31107},      {50, 31008, 31108},
    {60, 31010, 31110},     {120, 31011, 31111},     {300, 31012, 31112},
    {600, 31013, 31113},    {1200, 31014, 31114},    {1800, 31015, 31115},
    {3600, 31020, 31120},   {7200, 31021, 31121},    {14400, 31022, 31122},
    {28800, 31023, 31123},  {43200, 31024, 31124},   {86400, 31030, 31130},
    {172800, 31031, 31131}, {432000, 31032, 31132},  {604800, 31033, 31133},
    {864000, 31034, 31134}, {1728000, 31035, 31135}, {2592000, 31036, 31136},
};

// The playback offset in 100 ns units after `elapsedMs` at `row`, saturated
// at the largest 64-bit value: a suspend of days at the fastest speed would
// otherwise overflow it.
inline int64_t PlaybackOffset(uint32_t elapsedMs, int row) {
    const int64_t perMs = static_cast<int64_t>(SPEED_TABLE[row].nSecondsPerSecond) * 10000;
    if (elapsedMs != 0 && perMs > INT64_MAX / elapsedMs)
        return INT64_MAX;
    return perMs * elapsedMs;
}

} // namespace brindle
