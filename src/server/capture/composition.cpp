#include "server/capture/composition.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace brindle {

std::string StampText(const SystemTime& time) {
    char text[64];
    std::snprintf(text, sizeof text, "%04hu-%02hu-%02hu %02hu:%02hu:%02hu.%03hu", time.wYear,
                  time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond,
                  time.wMilliseconds);
    return text;
}

QFont DefaultStampFont() {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(16);
    font.setBold(true);
    return font;
}

bool CompositionSurface::Create(int32_t nWidth, int32_t nHeight) {
    if (nWidth <= 0 || nHeight <= 0)
        return false;
    if (image_.width() == nWidth && image_.height() == nHeight)
        return true;
    image_ = QImage(nWidth, nHeight, QImage::Format_BGR888);
    if (image_.isNull())
        return false;
    image_.fill(Qt::black);
    return true;
}

bool CompositionSurface::CopyFrom(const CompositionSurface& other) {
    if (!other.Exists()) {
        Release();
        return true;
    }
    if (!Create(other.Width(), other.Height()))
        return false;
    // bits() would detach a picture shared with a reader (a copy made for
    // a window); then this one is written afresh and the reader keeps its own.
    const size_t nBytes = other.Stride() * static_cast<size_t>(other.Height());
    std::memcpy(image_.bits(), other.Bits(),
                std::min(nBytes, static_cast<size_t>(image_.sizeInBytes())));
    return true;
}

namespace {

// A picture as rows: pTop is the top row, nStep the distance to the next
// row down (negative for a bottom-up frame).
struct PictureRows {
    uint8_t* pTop;
    ptrdiff_t nStep;
    int32_t nWidth;
    int32_t nHeight;
};

// Copies the band (0xffRRGGBB words) onto the picture at (x, y), clipped to
// the picture.
void BlitBand(const QImage& band, int32_t x, int32_t y, const PictureRows& picture) {
    int32_t nFirst = std::max(0, -x);
    int32_t nLast = std::min(band.width(), picture.nWidth - x);
    if (nLast <= nFirst)
        return;
    for (int32_t r = 0; r < band.height(); ++r) {
        int32_t nRow = y + r;
        if (nRow < 0 || nRow >= picture.nHeight)
            continue;
        const auto* source = reinterpret_cast<const uint32_t*>(band.constScanLine(r));
        uint8_t* target =
            picture.pTop + picture.nStep * nRow + 3 * static_cast<ptrdiff_t>(x + nFirst);
        for (int32_t c = nFirst; c < nLast; ++c) {
            uint32_t nPixel = source[c];
            *target++ = static_cast<uint8_t>(nPixel);
            *target++ = static_cast<uint8_t>(nPixel >> 8);
            *target++ = static_cast<uint8_t>(nPixel >> 16);
        }
    }
}

StampPlacement PlaceBand(int nTimePosition, int32_t nWidth, int32_t nHeight, int32_t cx,
                         int32_t cy) {
    StampPlacement placement;
    placement.cx = cx;
    placement.cy = cy;
    if (nTimePosition == 2 || nTimePosition == 4)
        placement.x = nWidth - cx;
    if (nTimePosition == 3 || nTimePosition == 4)
        placement.y = nHeight - cy;
    return placement;
}

// Draws the text white on black into a band of its own size and places it
// at the corner; placement.cx is 0 when there is no stamp. `band` is kept
// from stamp to stamp and reused while the size stays: an image keeps its
// paint engine, which a new one would have to set up for every stamp. False
// only when memory is short.
bool RenderStamp(int nTimePosition, int32_t nWidth, int32_t nHeight, const QFont& font,
                 const std::string& text, QImage& band, StampPlacement& placement) {
    placement = StampPlacement{};
    if (nTimePosition < 1 || nTimePosition > 4)
        return true;
    QString label = QString::fromStdString(text);
    QFontMetrics metrics(font);
    int32_t cx = metrics.horizontalAdvance(label);
    int32_t cy = metrics.height();
    if (cx <= 0 || cy <= 0)
        return true;
    if (band.width() != cx || band.height() != cy || band.format() != QImage::Format_RGB32) {
        band = QImage(cx, cy, QImage::Format_RGB32);
        if (band.isNull())
            return false;
    }
    band.fill(Qt::black);
    {
        QPainter painter(&band);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(0, metrics.ascent(), label);
    }
    placement = PlaceBand(nTimePosition, nWidth, nHeight, cx, cy);
    return true;
}

// Draws the stamp and copies it onto the picture at its corner.
bool DrawStamp(const PictureRows& picture, int nTimePosition, const QFont& font,
               const std::string& text, QImage& band, StampPlacement& placement) {
    if (!RenderStamp(nTimePosition, picture.nWidth, picture.nHeight, font, text, band, placement))
        return false;
    if (placement.cx > 0)
        BlitBand(band, placement.x, placement.y, picture);
    return true;
}

bool IsWholeFrame(const CaptureFrame& frame) {
    return frame.nWidth > 0 && frame.nHeight > 0 &&
           frame.pixels.size() >= DibStride(frame.nWidth) * static_cast<size_t>(frame.nHeight);
}

} // namespace

bool CompositionSurface::Compose(const CaptureFrame& frame, int nTimePosition, const QFont& font,
                                 const std::string& text, StampPlacement& placement) {
    placement = StampPlacement{};
    if (!IsWholeFrame(frame) || !Create(frame.nWidth, frame.nHeight))
        return false;
    // The frame arrives bottom-up; the surface is top-down.
    size_t nStride = DibStride(frame.nWidth);
    for (int32_t r = 0; r < frame.nHeight; ++r) {
        const uint8_t* source = frame.pixels.data() + nStride * size_t(frame.nHeight - 1 - r);
        std::memcpy(image_.scanLine(r), source, nStride);
    }
    PictureRows rows{image_.scanLine(0), static_cast<ptrdiff_t>(image_.bytesPerLine()),
                     frame.nWidth, frame.nHeight};
    return DrawStamp(rows, nTimePosition, font, text, band_, placement);
}

bool StampRowsOf(const CaptureFrame& frame, int nTimePosition, const QFont& font,
                 const std::string& text, StampPlacement& placement, StampedRows& rows) {
    placement = StampPlacement{};
    rows.nFirstRow = 0;
    rows.nRows = 0;
    if (!IsWholeFrame(frame))
        return false;
    QImage& band = rows.band;
    if (!RenderStamp(nTimePosition, frame.nWidth, frame.nHeight, font, text, band, placement))
        return false;
    if (placement.cx == 0)
        return true;
    int32_t nFirst = std::max(0, placement.y);
    int32_t nEnd = std::min(frame.nHeight, placement.y + placement.cy);
    if (nEnd <= nFirst)
        return true;
    size_t nStride = DibStride(frame.nWidth);
    rows.pixels.resize(nStride * static_cast<size_t>(nEnd - nFirst));
    for (int32_t r = nFirst; r < nEnd; ++r)
        std::memcpy(rows.pixels.data() + nStride * size_t(r - nFirst),
                    frame.pixels.data() + nStride * size_t(frame.nHeight - 1 - r), nStride);
    rows.nFirstRow = nFirst;
    rows.nRows = nEnd - nFirst;
    PictureRows picture{rows.pixels.data(), static_cast<ptrdiff_t>(nStride), frame.nWidth,
                        rows.nRows};
    BlitBand(band, placement.x, placement.y - nFirst, picture);
    return true;
}

} // namespace brindle
