// The composition surface: where a frame and its date-and-time stamp are put
// together before encoding. It holds the composed picture top-down, 24-bit
// BGR, rows DibStride(width) apart, so the encoder and the viewer read it
// as it is.
//
// Drawing text needs a QGuiApplication (the offscreen platform will do).
#pragma once

#include "platform/clock.h"
#include "server/capture/capture_backend.h"

#include <QFont>
#include <QImage>

#include <string>
#include <vector>

namespace brindle {

// Where the stamp went, in frame coordinates: the band of cx x cy pixels at
// (x, y). x or y is negative when the frame is narrower or lower than the
// band; only the part inside the frame is drawn. All 0 without a stamp.
struct StampPlacement {
    int32_t x = 0;
    int32_t y = 0;
    int32_t cx = 0;
    int32_t cy = 0;
};

// "yyyy-mm-dd hh:mm:ss.mmm" of a capture time.
std::string StampText(const SystemTime& time);

// The font used when a camera has none of its own.
QFont DefaultStampFont();

// The rows of a frame that the stamp covers, copied upright with the stamp
// drawn on them: rows nFirstRow to nFirstRow + nRows - 1 of the picture
// counted from the top, DibStride(width) bytes apart. Kept from cycle to
// cycle so that its memory is reused.
struct StampedRows {
    std::vector<uint8_t> pixels;
    int32_t nFirstRow = 0;
    int32_t nRows = 0;
    QImage band; // the stamp as drawn, kept for the next one
};

// Stamps a bottom-up frame as Compose does on the surface, but draws only on
// copies of the rows the stamp covers: the frame itself stays as it was, and
// the rest of the picture is not copied. The stamped picture is `rows` where
// they lie and the frame elsewhere. Returns false when the frame is
// malformed or memory is short.
bool StampRowsOf(const CaptureFrame& frame, int nTimePosition, const QFont& font,
                 const std::string& text, StampPlacement& placement, StampedRows& rows);

class CompositionSurface {
  public:
    // Makes the surface for frames of the given size; false when memory is
    // short. The surface follows the size of the frames actually composed.
    bool Create(int32_t nWidth, int32_t nHeight);
    void Release() {
        image_ = QImage();
        band_ = QImage();
    }
    bool Exists() const { return !image_.isNull(); }

    // Copies the bottom-up frame in and, for a time position of 1 (top
    // left), 2 (top right), 3 (bottom left) or 4 (bottom right), draws
    // `text` white on black in `font` at that corner. Any other position
    // means no stamp. Returns false when the frame is malformed or memory
    // is short; the surface content is then undefined.
    bool Compose(const CaptureFrame& frame, int nTimePosition, const QFont& font,
                 const std::string& text, StampPlacement& placement);

    // Makes this surface a copy of `other`'s picture, reusing its own memory
    // when the size is the same. False when memory is short.
    bool CopyFrom(const CompositionSurface& other);

    int32_t Width() const { return image_.width(); }
    int32_t Height() const { return image_.height(); }
    size_t Stride() const { return static_cast<size_t>(image_.bytesPerLine()); }
    const uint8_t* Bits() const { return image_.constBits(); }
    const QImage& Image() const { return image_; }

  private:
    QImage image_;
    QImage band_; // the stamp as drawn, kept for the next one
};

} // namespace brindle
