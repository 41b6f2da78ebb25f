#include "server/capture/composition.h"
#include "support/scripted_backend.h"

#include <gtest/gtest.h>

#include <cstring>

namespace brindle {
namespace {

// A colour the band's grey shades cannot produce.
CaptureFrame GreyFrame(int32_t nWidth, int32_t nHeight) {
    return MakeFrame(nWidth, nHeight, [](int32_t, int32_t) { return 0x204080u; });
}

// Counts of the band's colours (black background, white ink) in a region
// of the composed picture, and of the untouched frame colour.
struct Tally {
    int nBlack = 0;
    int nWhite = 0;
    int nGrey = 0;
};

Tally Count(const CompositionSurface& surface, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    Tally tally;
    for (int32_t y = y0; y < y1; ++y) {
        const uint8_t* row = surface.Bits() + surface.Stride() * size_t(y);
        for (int32_t x = x0; x < x1; ++x) {
            const uint8_t* p = row + 3 * x;
            tally.nBlack += p[0] == 0 && p[1] == 0 && p[2] == 0;
            tally.nWhite += p[0] == 255 && p[1] == 255 && p[2] == 255;
            tally.nGrey += p[0] == 0x80 && p[1] == 0x40 && p[2] == 0x20;
        }
    }
    return tally;
}

const SystemTime kTime{2024, 3, 5, 15, 9, 8, 7, 6};

TEST(Stamp, TextOfTheCaptureTime) {
    EXPECT_EQ(StampText(kTime), "2024-03-15 09:08:07.006");
}

TEST(Stamp, DrawsTheBandAtTheChosenCorner) {
    QFont font = DefaultStampFont();
    const int32_t nWidth = 640, nHeight = 240;
    for (int nPosition = 0; nPosition <= 4; ++nPosition) {
        CompositionSurface surface;
        StampPlacement at;
        ASSERT_TRUE(
            surface.Compose(GreyFrame(nWidth, nHeight), nPosition, font, StampText(kTime), at));
        if (nPosition == 0) {
            EXPECT_EQ(at.cx, 0);
            EXPECT_EQ(Count(surface, 0, 0, nWidth, nHeight).nGrey, nWidth * nHeight);
            continue;
        }
        ASSERT_GT(at.cx, 50) << nPosition;
        ASSERT_GT(at.cy, 8) << nPosition;
        bool fRight = nPosition == 2 || nPosition == 4;
        bool fBottom = nPosition >= 3;
        EXPECT_EQ(at.x, fRight ? nWidth - at.cx : 0);
        EXPECT_EQ(at.y, fBottom ? nHeight - at.cy : 0);
        // The band is black with white text; everything else stays grey.
        Tally band = Count(surface, at.x, at.y, at.x + at.cx, at.y + at.cy);
        EXPECT_EQ(band.nGrey, 0) << nPosition;
        EXPECT_GT(band.nWhite, 20) << nPosition;
        EXPECT_GT(band.nBlack, band.nWhite) << nPosition;
        EXPECT_EQ(Count(surface, 0, 0, nWidth, nHeight).nGrey, nWidth * nHeight - at.cx * at.cy)
            << nPosition;
    }
}

// A frame lower (and narrower) than the band: the band starts above and
// left of the frame, and only its part inside the frame is drawn.
TEST(Stamp, BandLargerThanTheFrameIsClipped) {
    QFont font = DefaultStampFont();
    CompositionSurface reference;
    StampPlacement full;
    ASSERT_TRUE(reference.Compose(GreyFrame(400, 100), 1, font, StampText(kTime), full));

    const int32_t nWidth = 60, nHeight = 6;
    ASSERT_GT(full.cy, nHeight);
    CompositionSurface surface;
    StampPlacement at;
    ASSERT_TRUE(surface.Compose(GreyFrame(nWidth, nHeight), 4, font, StampText(kTime), at));
    EXPECT_EQ(at.x, nWidth - full.cx);
    EXPECT_EQ(at.y, nHeight - full.cy);
    EXPECT_EQ(surface.Width(), nWidth);
    EXPECT_EQ(surface.Height(), nHeight);
    // Every pixel of the frame shows the bottom-right part of the band.
    for (int32_t y = 0; y < nHeight; ++y) {
        const uint8_t* row = surface.Bits() + surface.Stride() * y;
        const uint8_t* bandRow = reference.Bits() + reference.Stride() * (y - at.y);
        for (int32_t x = 0; x < nWidth; ++x)
            ASSERT_EQ(row[3 * x], bandRow[3 * (x - at.x)]) << x << "," << y;
    }
}

// Frames arrive bottom-up; the composed picture is top-down.
TEST(Composition, TurnsTheFrameUpright) {
    CaptureFrame frame =
        MakeFrame(5, 3, [](int32_t x, int32_t y) { return uint32_t(0x010203 * (y * 10 + x + 1)); });
    CompositionSurface surface;
    StampPlacement at;
    ASSERT_TRUE(surface.Compose(frame, 0, DefaultStampFont(), "", at));
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 5; ++x)
            EXPECT_EQ(surface.Bits()[surface.Stride() * y + 3 * x], uint8_t(3 * (y * 10 + x + 1)));
}

// The stamped copies of the rows under the stamp, with the frame's other
// rows, give the composed picture, also for frames lower and narrower than
// the band.
TEST(Composition, StampedRowsWithTheFrameMatchTheSurface) {
    QFont font = DefaultStampFont();
    struct Size {
        int32_t nWidth, nHeight;
    };
    for (Size size : {Size{200, 50}, Size{60, 6}}) {
        for (int nPosition = 0; nPosition <= 4; ++nPosition) {
            const CaptureFrame frame =
                MakeFrame(size.nWidth, size.nHeight,
                          [](int32_t x, int32_t y) { return uint32_t(x * 0x010101 + y); });
            CompositionSurface surface;
            StampPlacement atSurface, atRows;
            StampedRows rows;
            ASSERT_TRUE(surface.Compose(frame, nPosition, font, StampText(kTime), atSurface));
            ASSERT_TRUE(StampRowsOf(frame, nPosition, font, StampText(kTime), atRows, rows));
            EXPECT_EQ(atRows.x, atSurface.x);
            EXPECT_EQ(atRows.y, atSurface.y);
            if (nPosition == 0) {
                EXPECT_EQ(rows.nRows, 0);
            }
            size_t nStride = DibStride(size.nWidth);
            for (int32_t y = 0; y < size.nHeight; ++y) {
                int32_t nBand = y - rows.nFirstRow;
                const uint8_t* row = nBand >= 0 && nBand < rows.nRows
                                         ? rows.pixels.data() + nStride * nBand
                                         : frame.pixels.data() + nStride * (size.nHeight - 1 - y);
                ASSERT_EQ(0,
                          std::memcmp(surface.Bits() + surface.Stride() * y, row, 3 * size.nWidth))
                    << nPosition << " row " << y;
            }
        }
    }
}

TEST(Composition, RefusesMalformedFrames) {
    CompositionSurface surface;
    StampPlacement at;
    CaptureFrame shortFrame = GreyFrame(10, 10);
    shortFrame.pixels.resize(shortFrame.pixels.size() - 1);
    EXPECT_FALSE(surface.Compose(shortFrame, 1, DefaultStampFont(), "x", at));
    CaptureFrame empty;
    EXPECT_FALSE(surface.Compose(empty, 1, DefaultStampFont(), "x", at));
}

} // namespace
} // namespace brindle
