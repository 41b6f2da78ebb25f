#include "common/error_codes.h"
#include "server/capture/v4l2_backend.h"

#include "capture_test_util.h"
#include "support/wait_until.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

namespace brindle {
namespace {

TEST(V4l2Helpers, OnlyStreamingVideoCaptureNodesAreCameras) {
    struct Case {
        uint32_t nCapabilities;
        uint32_t nDeviceCaps;
        bool fCamera;
    } cases[] = {
        {V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING, 0, true},
        {V4L2_CAP_DEVICE_CAPS | V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING,
         V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING, false}, // the metadata node of a UVC camera
        {V4L2_CAP_DEVICE_CAPS | V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING,
         V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING, true},
        {V4L2_CAP_VIDEO_OUTPUT | V4L2_CAP_STREAMING, 0, false},
        {V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_READWRITE, 0, false},
    };
    for (const Case& c : cases) {
        v4l2_capability caps{};
        caps.capabilities = c.nCapabilities;
        caps.device_caps = c.nDeviceCaps;
        EXPECT_EQ(IsVideoCaptureNode(caps), c.fCamera) << std::hex << c.nCapabilities;
    }
}

// The by-id link wins over by-path, which wins over the node.
TEST(V4l2Helpers, StablePathPrefersById) {
    namespace fs = std::filesystem;
    test::TempDir dir;
    fs::path root = dir.Path();
    for (const char* name : {"video0", "video1", "video2"})
        std::ofstream(root / name);
    fs::create_directories(root / "v4l/by-id");
    fs::create_directories(root / "v4l/by-path");
    fs::create_symlink("../../video0", root / "v4l/by-id/usb-Vendor_Cam_1234-video-index0");
    fs::create_symlink("../../video0",
                       root / "v4l/by-path/pci-0000:00:14.0-usb-0:1:1.0-video-index0");
    fs::create_symlink("../../video1",
                       root / "v4l/by-path/pci-0000:00:14.0-usb-0:2:1.0-video-index0");
    std::string r = root.string();
    EXPECT_EQ(StableDevicePath(r + "/video0", r),
              r + "/v4l/by-id/usb-Vendor_Cam_1234-video-index0");
    EXPECT_EQ(StableDevicePath(r + "/video1", r),
              r + "/v4l/by-path/pci-0000:00:14.0-usb-0:2:1.0-video-index0");
    EXPECT_EQ(StableDevicePath(r + "/video2", r), r + "/video2");
    EXPECT_EQ(StableDevicePath(r + "/video9", r), r + "/video9");
}

TEST(V4l2Helpers, IntervalsInHundredNanoseconds) {
    EXPECT_EQ(IntervalFromFraction({1, 30}), 333333);
    EXPECT_EQ(IntervalFromFraction({1001, 30000}), 333666);
    EXPECT_EQ(IntervalFromFraction({1, 0}), 0);
    v4l2_frmival_stepwise range{{1, 30}, {1, 5}, {1, 1}};
    EXPECT_EQ(IntervalsWithin(range),
              (std::vector<int64_t>{333333, 400000, 500000, 666666, 1000000, 2000000}));
}

TEST(V4l2Helpers, StepwiseSizesReduceToCommonSizes) {
    v4l2_frmsize_stepwise range{320, 1280, 64, 240, 720, 16};
    auto sizes = SizesWithin(range);
    std::vector<std::pair<int32_t, int32_t>> expected{{1280, 720}, {640, 480}, {320, 240}};
    EXPECT_EQ(sizes, expected); // 1024x768 is too high; 800 and 352 are off the step
    v4l2_frmsize_stepwise continuous{1, 4096, 1, 1, 4096, 1};
    EXPECT_EQ(SizesWithin(continuous).size(), 15u);
}

// Several cameras on one USB controller: MJPEG at the selected size beats
// raw YUYV, and the user is told in plain words when bandwidth runs out.
TEST(V4l2Helpers, CompressedFormatIsChosenWhenOffered) {
    std::vector<PixelFormatOffer> offers{{V4L2_PIX_FMT_YUYV, 640, 480},
                                         {V4L2_PIX_FMT_YUYV, 1280, 720},
                                         {V4L2_PIX_FMT_MJPEG, 1280, 720},
                                         {V4L2_PIX_FMT_H264, 1920, 1080}};
    EXPECT_EQ(ChoosePixelFormat(offers, 1280, 720), V4L2_PIX_FMT_MJPEG);
    EXPECT_EQ(ChoosePixelFormat(offers, 640, 480), V4L2_PIX_FMT_YUYV);
    EXPECT_EQ(ChoosePixelFormat(offers, 1920, 1080), 0u); // H.264 cannot be converted
    EXPECT_NE(StartFailureHint(ENOSPC).find("USB"), std::string::npos);
    EXPECT_TRUE(StartFailureHint(EINVAL).empty());
}

// Nodes that are no cameras (here plain files) are skipped, and starting
// one fails with a code instead of a stream.
TEST(V4l2Device, NodesThatAreNoCamerasAreSkipped) {
    test::TempDir dir;
    for (const char* name : {"video0", "video10", "videox", "vbi0"})
        std::ofstream(dir.File(name));
    V4l2Backend backend(dir.Path());
    std::vector<CaptureDeviceInfo> devices;
    EXPECT_EQ(backend.Enumerate(devices), 0u);
    EXPECT_TRUE(devices.empty());
    EXPECT_TRUE(backend.Handles(dir.File("video0")));
    EXPECT_FALSE(backend.Handles("testcam:0"));
    std::unique_ptr<CaptureStream> stream;
    std::string hint;
    EXPECT_NE(backend.Start(dir.File("video0"), {640, 480, 333333}, true, stream, hint), 0u);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(backend.Start(dir.File("video7"), {640, 480, 333333}, true, stream, hint),
              ERROR_FILE_NOT_FOUND_CODE);
    std::vector<CaptureControl> controls;
    EXPECT_EQ(backend.ListControls(dir.File("video0"), controls), 0u); // none to list
    EXPECT_TRUE(controls.empty());
    EXPECT_NE(backend.SetControl(dir.File("video0"), 1, 1), 0u);
}

// Only where a camera is attached: list it, start it and take a frame.
TEST(V4l2Device, CapturesAFrameWhenACameraIsPresent) {
    V4l2Backend backend;
    std::vector<CaptureDeviceInfo> devices;
    backend.Enumerate(devices);
    if (devices.empty())
        GTEST_SKIP() << "no V4L2 camera on this machine";
    const CaptureDeviceInfo& device = devices.front();
    ASSERT_FALSE(device.formats.empty());
    std::unique_ptr<CaptureStream> stream;
    std::string hint;
    ASSERT_EQ(backend.Start(device.devicePath, device.formats.front(), true, stream, hint), 0u)
        << hint;
    CaptureFrame frame;
    uint32_t nError = 1;
    test::WaitUntil([&] { return (nError = stream->NewestFrame(frame)) == 0; }, 5000, 50);
    EXPECT_EQ(nError, 0u);
    EXPECT_GT(frame.nWidth, 0);
    EXPECT_EQ(stream->Stop(), 0u);
}

} // namespace
} // namespace brindle
