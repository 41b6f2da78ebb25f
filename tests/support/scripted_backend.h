// A capture backend driven by a script instead of hardware, for unit tests
// and benchmarks: the devices it lists, the frame each one delivers, and
// the failures of start, stop and frame fetch are set by the caller.
#pragma once

#include "server/capture/capture_backend.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace brindle {

class ScriptedBackend : public CaptureBackend {
  public:
    // What one device does. Shared with its running stream.
    struct Script {
        CaptureFrame frame;       // delivered by NewestFrame (copied)
        uint32_t nFrameError = 0; // when non-zero, NewestFrame fails with it
        uint32_t nStartError = 0;
        std::string startHint;
        uint32_t nStopError = 0;
        CaptureFormat lastWanted; // the format of the last start
        bool fLastMatchInterval = false;
        int nStarts = 0;
        int nRunning = 0; // streams alive
        int nFrames = 0;  // NewestFrame calls
        // Called by NewestFrame on the fetching thread before anything else
        // (a test blocks a frame cycle here). Set before the stream starts.
        std::function<void()> beforeFrame;
        std::vector<CaptureControl> controls;
    };

    // Devices listed by Enumerate, in order. A device can be scripted
    // without being listed (an unplugged camera).
    std::vector<CaptureDeviceInfo> devices;

    // The script of a device path, created on first use.
    Script& ScriptOf(const std::string& devicePath);

    // Sets the frame a device delivers.
    void SetFrame(const std::string& devicePath, const CaptureFrame& frame);

    uint32_t Enumerate(std::vector<CaptureDeviceInfo>& out) override;
    bool Handles(const std::string& devicePath) const override;
    uint32_t Start(const std::string& devicePath, const CaptureFormat& wanted, bool fMatchInterval,
                   std::unique_ptr<CaptureStream>& stream, std::string& hint) override;
    uint32_t ListControls(const std::string& devicePath,
                          std::vector<CaptureControl>& controls) override;
    uint32_t SetControl(const std::string& devicePath, uint32_t nId, int32_t nValue) override;

  private:
    std::map<std::string, std::shared_ptr<Script>> scripts_;
};

// A frame of the given size filled by `fill(x, y)` returning a BGR pixel
// packed as 0xRRGGBB, y counted from the top of the picture. For tests and
// benchmarks.
template <typename Fill> CaptureFrame MakeFrame(int32_t nWidth, int32_t nHeight, Fill fill) {
    CaptureFrame frame;
    frame.nWidth = nWidth;
    frame.nHeight = nHeight;
    size_t nStride = DibStride(nWidth);
    frame.pixels.assign(nStride * static_cast<size_t>(nHeight), 0);
    for (int32_t y = 0; y < nHeight; ++y) {
        uint8_t* line = frame.pixels.data() + nStride * static_cast<size_t>(nHeight - 1 - y);
        for (int32_t x = 0; x < nWidth; ++x) {
            uint32_t nRgb = fill(x, y);
            line[3 * x] = static_cast<uint8_t>(nRgb);
            line[3 * x + 1] = static_cast<uint8_t>(nRgb >> 8);
            line[3 * x + 2] = static_cast<uint8_t>(nRgb >> 16);
        }
    }
    return frame;
}

} // namespace brindle
