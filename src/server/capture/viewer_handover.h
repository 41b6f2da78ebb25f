// What the viewer needs from a live frame or a decoded image: its bitmap
// sized to hold the picture, and the picture's pixels top-down.
#pragma once

#include "server/capture/capture_backend.h"

#include <cstdint>
#include <vector>

namespace brindle {

// The remembered size of a viewer bitmap. Growing it to hold a picture
// takes the larger of old and requested per direction, so that switching
// between cameras of different sizes does not reallocate back and forth.
struct ViewerBitmapSize {
    int32_t nWidth = 0;
    int32_t nHeight = 0;
};

// Grows `size` to hold nWidth x nHeight; true when the bitmap must be made
// anew (it was missing or smaller in a direction).
bool GrowViewerBitmap(ViewerBitmapSize& size, int32_t nWidth, int32_t nHeight);

// The viewer's pixel buffer from a raw frame: the same rows, top-down, at
// the frame's stride (DibStride). The buffer is reallocated only when its
// size differs. False for a malformed frame (the buffer is then unchanged).
bool CopyFrameTopDown(const CaptureFrame& frame, std::vector<uint8_t>& pixels);

} // namespace brindle
