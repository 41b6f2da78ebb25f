#include "server/capture/viewer_handover.h"

#include <algorithm>
#include <cstring>

namespace brindle {

bool GrowViewerBitmap(ViewerBitmapSize& size, int32_t nWidth, int32_t nHeight) {
    bool fMissing = size.nWidth <= 0 || size.nHeight <= 0;
    bool fSmaller = size.nWidth < nWidth || size.nHeight < nHeight;
    size.nWidth = std::max(size.nWidth, nWidth);
    size.nHeight = std::max(size.nHeight, nHeight);
    return fMissing || fSmaller;
}

bool CopyFrameTopDown(const CaptureFrame& frame, std::vector<uint8_t>& pixels) {
    size_t nStride = DibStride(frame.nWidth);
    if (frame.nWidth <= 0 || frame.nHeight <= 0 ||
        frame.pixels.size() < nStride * size_t(frame.nHeight))
        return false;
    size_t nSize = nStride * size_t(frame.nHeight);
    if (pixels.size() != nSize)
        pixels.assign(nSize, 0);
    for (int32_t y = 0; y < frame.nHeight; ++y)
        std::memcpy(pixels.data() + nStride * size_t(y),
                    frame.pixels.data() + nStride * size_t(frame.nHeight - 1 - y), nStride);
    return true;
}

} // namespace brindle
