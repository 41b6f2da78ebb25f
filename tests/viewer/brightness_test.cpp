#include "imagestore/viewer/brightness.h"
#include "imagestore/viewer/speed_table.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace brindle {
namespace {

TEST(ViewerBrightness, StepsRunFrom100To2000AndBack) {
    int b = 100;
    for (int expected = 150; expected <= 2000; expected += 50)
        EXPECT_EQ(b = NextBrightness(b, 1), expected);
    EXPECT_EQ(NextBrightness(2000, 1), 2000);
    for (int expected = 1950; expected >= 100; expected -= 50)
        EXPECT_EQ(b = NextBrightness(b, -1), expected);
    EXPECT_EQ(NextBrightness(100, -1), 100);
    // A value below the range (a new entry) counts as 100 first.
    EXPECT_EQ(NextBrightness(0, 1), 150);
    EXPECT_EQ(NextBrightness(0, -1), 100);
}

TEST(ViewerBrightness, BytesFollowTheIntegerFormula) {
    struct Case {
        int nBrightness;
        uint8_t v, expected;
    } const cases[] = {{150, 100, 147}, {150, 128, 190}, {150, 200, 255}, {2000, 1, 18},
                       {2000, 2, 38},   {100, 77, 77},   {150, 0, 0}};
    for (const Case& c : cases) {
        uint8_t out = 0;
        ApplyBrightnessPlain(&c.v, &out, 1, c.nBrightness);
        EXPECT_EQ(out, c.expected) << c.nBrightness << " " << int(c.v);
    }
}

TEST(ViewerBrightness, SimdFormEqualsThePlainLoopForEveryByteAndStep) {
    // Every byte value, at an odd length so the tail is exercised too.
    std::vector<uint8_t> src(256 * 3 + 7);
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = static_cast<uint8_t>(i * 7 + i / 256);
    for (int b = 100; b <= 2000; b += 50) {
        std::vector<uint8_t> plain(src.size()), simd(src.size());
        ApplyBrightnessPlain(src.data(), plain.data(), src.size(), b);
        ApplyBrightness(src.data(), simd.data(), src.size(), b);
        ASSERT_EQ(plain, simd) << b;
    }
}

TEST(ViewerZoom, StepsInAndOut) {
    std::vector<int> seen{100};
    while (seen.back() < 20000)
        seen.push_back(NextZoom(seen.back(), 1));
    EXPECT_EQ(std::vector<int>(seen.begin(), seen.begin() + 6),
              (std::vector<int>{100, 110, 121, 133, 146, 160}));
    EXPECT_EQ(seen[seen.size() - 2], 18302);
    EXPECT_EQ(seen.back(), 20000);
    EXPECT_EQ(NextZoom(110, -1), 100);
    EXPECT_EQ(NextZoom(100, -1), 100);
    EXPECT_EQ(NextZoom(20000, -1), 18182);
}

TEST(ViewerPlayback, OffsetSaturatesAfterALongSuspendAtTheFastestSpeed) {
    EXPECT_EQ(PlaybackOffset(1000, 0), 10000000);
    EXPECT_EQ(PlaybackOffset(1000, SPEED_COUNT - 1), 2592000LL * 10000000);
    const uint32_t fiveDays = 5u * 86400 * 1000;
    EXPECT_EQ(PlaybackOffset(fiveDays, SPEED_COUNT - 1), INT64_MAX);
}

} // namespace
} // namespace brindle
