// Cameras through Video4Linux2: enumeration of video capture nodes, mmap
// streaming on a capture thread that keeps only the newest frame, and
// conversion to BGR24 with libv4lconvert when a frame is asked for.
#pragma once

#include "server/capture/capture_backend.h"

#include <linux/videodev2.h>

#include <string>
#include <utility>
#include <vector>

namespace brindle {

class V4l2Io;

class V4l2Backend : public CaptureBackend {
  public:
    // `devRoot` holds the video nodes and the "v4l/by-id" and "v4l/by-path"
    // link folders ("/dev" on a real system). The nodes are reached through
    // `io` (not owned; it outlives the backend and its streams), the kernel's
    // calls when null.
    explicit V4l2Backend(std::string devRoot = "/dev", V4l2Io* io = nullptr);

    uint32_t Enumerate(std::vector<CaptureDeviceInfo>& devices) override;
    bool Handles(const std::string& devicePath) const override;
    uint32_t Start(const std::string& devicePath, const CaptureFormat& wanted, bool fMatchInterval,
                   std::unique_ptr<CaptureStream>& stream, std::string& hint) override;
    uint32_t ListControls(const std::string& devicePath,
                          std::vector<CaptureControl>& controls) override;
    uint32_t SetControl(const std::string& devicePath, uint32_t nId, int32_t nValue) override;

  private:
    std::string devRoot_;
    V4l2Io* io_;
};

// Helpers of the backend that need no device; exposed for the tests.

// A node that captures video frames by streaming: metadata, output, radio
// and other nodes are not cameras.
bool IsVideoCaptureNode(const v4l2_capability& caps);

// The most stable name of a video node: its link in <devRoot>/v4l/by-id,
// else in <devRoot>/v4l/by-path, else the node itself. Links are compared
// by what they resolve to; several links to one node give the first in
// name order.
std::string StableDevicePath(const std::string& node, const std::string& devRoot);

// A frame interval in 100 ns units from a V4L2 fraction of seconds; 0 when
// the fraction states none.
int64_t IntervalFromFraction(const v4l2_fract& fraction);

// The usual camera sizes that fall inside a stepwise or continuous range
// (and on its steps), largest first.
std::vector<std::pair<int32_t, int32_t>> SizesWithin(const v4l2_frmsize_stepwise& range);

// The usual frame rates whose intervals fall inside a stepwise or
// continuous interval range, in 100 ns units, shortest first.
std::vector<int64_t> IntervalsWithin(const v4l2_frmival_stepwise& range);

// Pixel formats libv4lconvert turns into BGR24, compressed ones first.
bool IsConvertiblePixelFormat(uint32_t nFourcc);
bool IsCompressedPixelFormat(uint32_t nFourcc);

// One pixel format a device offers at one size.
struct PixelFormatOffer {
    uint32_t nFourcc = 0;
    int32_t nWidth = 0;
    int32_t nHeight = 0;
};

// The pixel format to capture a given size in: a compressed one (MJPEG)
// when the device offers it at that size, because several cameras on one
// USB controller rarely have the bandwidth for raw frames; else the first
// convertible one at that size. 0 when the size is not offered.
uint32_t ChoosePixelFormat(const std::vector<PixelFormatOffer>& offers, int32_t nWidth,
                           int32_t nHeight);

// Advice shown with a start failure of the given errno, or empty.
std::string StartFailureHint(int nErrno);

} // namespace brindle
