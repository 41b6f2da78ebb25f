#include "server/capture/capture_backend.h"
#include "server/capture/difference.h"

#include <gtest/gtest.h>

#include <random>

namespace brindle {
namespace {

std::vector<uint8_t> RandomBytes(std::mt19937& random, size_t n) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<uint8_t> bytes(n);
    for (uint8_t& b : bytes)
        b = static_cast<uint8_t>(byte(random));
    return bytes;
}

// Every vector form the processor has must give the plain form's sum, for
// lengths around the 16, 32 and 64 byte steps and for misaligned starts.
TEST(DifferenceSum, VectorFormsEqualPlainOnRandomData) {
    std::mt19937 random(7);
    for (size_t n : {0u, 1u, 15u, 16u, 17u, 31u, 33u, 63u, 64u, 65u, 127u, 1000u, 4099u}) {
        for (size_t nOffset : {0u, 1u, 3u}) {
            auto a = RandomBytes(random, n + nOffset);
            auto b = RandomBytes(random, n + nOffset);
            uint64_t nPlain =
                SumAbsDiffAt(SimdLevel::Plain, a.data() + nOffset, b.data() + nOffset, n);
            for (SimdLevel level : {SimdLevel::Sse2, SimdLevel::Avx2}) {
                EXPECT_EQ(SumAbsDiffAt(level, a.data() + nOffset, b.data() + nOffset, n), nPlain)
                    << "n=" << n << " offset=" << nOffset << " level=" << int(level);
            }
            EXPECT_EQ(SumAbsDiff(a.data() + nOffset, b.data() + nOffset, n), nPlain);
        }
    }
}

// Extreme bytes: the largest per-byte difference in both directions.
TEST(DifferenceSum, ExtremeBytes) {
    std::vector<uint8_t> zeros(1000, 0), ones(1000, 255);
    for (SimdLevel level : {SimdLevel::Plain, SimdLevel::Sse2, SimdLevel::Avx2}) {
        EXPECT_EQ(SumAbsDiffAt(level, zeros.data(), ones.data(), 1000), 255000u);
        EXPECT_EQ(SumAbsDiffAt(level, ones.data(), zeros.data(), 1000), 255000u);
    }
}

// Frames of many sizes, odd widths (padded rows) included: the frame sum
// counts pixel bytes only, whatever the padding holds.
TEST(DifferenceSum, FramesOfManySizesIgnorePadding) {
    std::mt19937 random(11);
    for (int32_t nWidth : {1, 2, 3, 5, 7, 13, 64, 101, 333, 640}) {
        for (int32_t nHeight : {1, 3, 17, 48}) {
            size_t nStride = DibStride(nWidth);
            auto a = RandomBytes(random, nStride * nHeight);
            auto b = RandomBytes(random, nStride * nHeight);
            uint64_t nExpected = 0;
            for (int32_t y = 0; y < nHeight; ++y)
                nExpected += SumAbsDiffAt(SimdLevel::Plain, a.data() + y * nStride,
                                          b.data() + y * nStride, size_t(nWidth) * 3);
            EXPECT_EQ(FrameDifferenceSum(a.data(), b.data(), nWidth, nHeight), nExpected)
                << nWidth << "x" << nHeight;
        }
    }
}

TEST(DifferenceLevel, ScalesTheSumPerHundredPixels) {
    struct Case {
        uint64_t nSum;
        int32_t nWidth, nHeight;
        int32_t nLevel;
    } cases[] = {
        {0, 640, 480, 0},
        {3072 * 10, 640, 480, 10},        // divisor 3072
        {3072 * 10 + 3071, 640, 480, 10}, // rounds down
        {255ull * 3 * 1920 * 1080, 1920, 1080, 76500},
        {1000, 10, 11, 1000}, // 110 pixels: divisor 1
        // Fewer than 100 pixels: the exact mean instead of a division by 0.
        {765, 1, 1, 76500},
        {30, 5, 6, 100},
        {5, 0, 6, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DifferenceLevel(c.nSum, c.nWidth, c.nHeight), c.nLevel)
            << c.nSum << " " << c.nWidth << "x" << c.nHeight;
}

} // namespace
} // namespace brindle
