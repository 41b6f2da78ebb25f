#include "common/error_codes.h"
#include "common/os_error.h"
#include "image/jpeg_codec.h"
#include "server/capture/v4l2_backend.h"

#include "capture_test_util.h"
#include "scripted_v4l2.h"
#include "support/scripted_backend.h"
#include "support/wait_until.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

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

using test::ScriptedV4l2;

// A /dev of its own: video nodes as files (for enumeration and their by-id
// links), answered by the scripted camera.
class V4l2Scripted : public ::testing::Test {
  protected:
    std::string AddCamera(const std::string& name, ScriptedV4l2::Camera camera) {
        std::string node = dir_.File(name);
        std::ofstream{node};
        device_.AddCamera(node, std::move(camera));
        return node;
    }

    std::unique_ptr<CaptureStream> Start(const std::string& node, CaptureFormat wanted) {
        std::unique_ptr<CaptureStream> stream;
        std::string hint;
        EXPECT_EQ(backend_.Start(node, wanted, true, stream, hint), 0u) << hint;
        return stream;
    }

    // Waits until the stream delivers a frame that `good` accepts.
    CaptureFrame WaitForFrame(CaptureStream& stream,
                              std::function<bool(const CaptureFrame&)> good) {
        CaptureFrame frame;
        EXPECT_TRUE(test::WaitUntil([&] { return stream.NewestFrame(frame) == 0 && good(frame); }));
        return frame;
    }

    // Delivers a frame once the reader has a buffer queued again.
    void Deliver(const std::string& node, const std::vector<uint8_t>& bytes, uint32_t nFlags = 0) {
        EXPECT_TRUE(test::WaitUntil([&] { return device_.DeliverFrame(node, bytes, nFlags); }));
    }

    // Nothing of the device is left open or mapped.
    void ExpectReleased(const std::string& node) {
        EXPECT_EQ(device_.Read(node, [](auto& c) { return c.nOpen; }), 0);
        EXPECT_EQ(device_.Read(node, [](auto& c) { return c.nMapped; }), 0);
    }

    test::TempDir dir_;
    ScriptedV4l2 device_;
    V4l2Backend backend_{dir_.Path(), &device_};
};

// The BGR pixel at (x, y counted from the top) of a bottom-up frame.
uint32_t PixelAt(const CaptureFrame& frame, int32_t x, int32_t y) {
    const uint8_t* p =
        frame.pixels.data() + DibStride(frame.nWidth) * size_t(frame.nHeight - 1 - y) + 3 * x;
    return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

// Whether a decoded pixel is near 0xRRGGBB (JPEG and YUV round).
bool Near(uint32_t nRgb, uint32_t nWant) {
    for (int nShift : {0, 8, 16}) {
        if (std::abs(int((nRgb >> nShift) & 0xFF) - int((nWant >> nShift) & 0xFF)) > 24)
            return false;
    }
    return true;
}

std::vector<uint8_t> JpegHalves(int32_t nWidth, int32_t nHeight, uint32_t nTop, uint32_t nBottom) {
    CaptureFrame picture = MakeFrame(
        nWidth, nHeight, [&](int32_t, int32_t y) { return y < nHeight / 2 ? nTop : nBottom; });
    size_t nStride = DibStride(nWidth);
    JpegScratch scratch;
    std::vector<uint8_t> jpeg;
    EXPECT_EQ(EncodeJpeg(picture.pixels.data() + nStride * size_t(nHeight - 1), nWidth, nHeight,
                         -ptrdiff_t(nStride), 95, scratch, jpeg),
              0u);
    return jpeg;
}

constexpr uint32_t RED = 0xFF0000, BLUE = 0x0000FF, GREEN = 0x00FF00;
constexpr uint8_t YUV_RED[3] = {81, 90, 240}, YUV_BLUE[3] = {41, 240, 110};

TEST_F(V4l2Scripted, EnumeratesDiscreteAndStepwiseOffers) {
    namespace fs = std::filesystem;
    std::string uvc = AddCamera("video0", test::UvcCamera());
    ScriptedV4l2::Camera metadata = test::UvcCamera();
    metadata.fMetadata = true;
    AddCamera("video1", metadata);
    ScriptedV4l2::Camera stepwise;
    stepwise.card = "Range Camera";
    stepwise.offers = {{V4L2_PIX_FMT_YUYV,
                        {},
                        v4l2_frmsize_stepwise{320, 800, 16, 240, 600, 8},
                        {},
                        v4l2_frmival_stepwise{{1, 30}, {1, 10}, {1, 1}}}};
    stepwise.format = test::UvcCamera().format;
    AddCamera("video2", stepwise);
    fs::create_directories(dir_.File("v4l/by-id"));
    fs::create_symlink("../../video0", dir_.File("v4l/by-id/usb-Vendor_USB_Camera-video-index0"));

    std::vector<CaptureDeviceInfo> devices;
    ASSERT_EQ(backend_.Enumerate(devices), 0u);
    ASSERT_EQ(devices.size(), 2u); // the metadata node is no camera
    EXPECT_EQ(devices[0].friendlyName, "USB Camera");
    EXPECT_EQ(devices[0].devicePath, dir_.File("v4l/by-id/usb-Vendor_USB_Camera-video-index0"));
    const std::vector<CaptureFormat> mjpegThenYuyv{
        {640, 480, 333333}, {640, 480, 666666}, {320, 240, 333333}, {320, 240, 666666},
        {640, 480, 333333}, {640, 480, 666666}, {320, 240, 333333}, {320, 240, 666666},
        {160, 120, 333333}, {160, 120, 666666}};
    EXPECT_EQ(devices[0].formats, mjpegThenYuyv);
    EXPECT_EQ(devices[1].friendlyName, "Range Camera");
    EXPECT_EQ(devices[1].devicePath, dir_.File("video2"));
    std::vector<CaptureFormat> ranged;
    for (auto size : {std::pair{800, 600}, {640, 480}, {352, 288}, {320, 240}})
        for (int64_t nInterval : {333333, 400000, 500000, 666666, 1000000})
            ranged.push_back({size.first, size.second, nInterval});
    EXPECT_EQ(devices[1].formats, ranged);
    ExpectReleased(uvc);
}

// MJPEG wherever the camera offers it at the wanted size, the rate asked
// for, and the camera's current format for a size it does not offer.
TEST_F(V4l2Scripted, StartChoosesFormatAndRate) {
    std::string node = AddCamera("video0", test::UvcCamera());
    struct Case {
        CaptureFormat wanted;
        uint32_t nFourcc;
        uint32_t nWidth, nHeight;
    } cases[] = {
        {{320, 240, 666666}, V4L2_PIX_FMT_MJPEG, 320, 240},
        {{160, 120, 333333}, V4L2_PIX_FMT_YUYV, 160, 120},
        {{1280, 720, 333333}, V4L2_PIX_FMT_YUYV, 160, 120}, // stays as it was
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wanted.nWidth);
        auto stream = Start(node, c.wanted);
        ASSERT_NE(stream, nullptr);
        v4l2_pix_format format = device_.Read(node, [](auto& cam) { return cam.format; });
        EXPECT_EQ(format.pixelformat, c.nFourcc);
        EXPECT_EQ(format.width, c.nWidth);
        EXPECT_EQ(format.height, c.nHeight);
        v4l2_fract rate = device_.Read(node, [](auto& cam) { return cam.timePerFrame; });
        EXPECT_EQ(IntervalFromFraction(rate), c.wanted.nInterval);
        EXPECT_TRUE(device_.Read(node, [](auto& cam) { return cam.fStreaming; }));
        EXPECT_EQ(stream->Stop(), 0u);
        ExpectReleased(node);
    }
}

// Frames arrive as MJPEG (made by our encoder) and YUYV, come out as
// bottom-up BGR rows with zero padding, top half red and bottom half blue.
TEST_F(V4l2Scripted, DeliversConvertedFramesBottomUp) {
    ScriptedV4l2::Camera camera = test::UvcCamera();
    camera.offers = {{V4L2_PIX_FMT_MJPEG, {{320, 240}}, {}, {{1, 30}}, {}},
                     {V4L2_PIX_FMT_YUYV, {{90, 60}}, {}, {{1, 30}}, {}}};
    std::string node = AddCamera("video0", camera);
    struct Case {
        CaptureFormat wanted;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {{320, 240, 333333}, JpegHalves(320, 240, RED, BLUE)},
        {{90, 60, 333333}, test::YuyvHalves(90, 60, YUV_RED, YUV_BLUE)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wanted.nWidth);
        auto stream = Start(node, c.wanted);
        ASSERT_NE(stream, nullptr);
        CaptureFrame frame;
        EXPECT_EQ(stream->NewestFrame(frame), ERROR_TIMEOUT_CODE); // nothing has arrived
        Deliver(node, c.bytes);
        frame = WaitForFrame(*stream, [](const CaptureFrame&) { return true; });
        ASSERT_EQ(frame.nWidth, c.wanted.nWidth);
        ASSERT_EQ(frame.nHeight, c.wanted.nHeight);
        ASSERT_EQ(frame.pixels.size(), DibStride(frame.nWidth) * size_t(frame.nHeight));
        EXPECT_TRUE(Near(PixelAt(frame, 0, 0), RED)) << std::hex << PixelAt(frame, 0, 0);
        EXPECT_TRUE(Near(PixelAt(frame, frame.nWidth - 1, frame.nHeight - 1), BLUE))
            << std::hex << PixelAt(frame, frame.nWidth - 1, frame.nHeight - 1);
        for (int32_t y = 0; y < frame.nHeight; ++y) {
            size_t nRowEnd = DibStride(frame.nWidth) * size_t(y + 1);
            for (size_t i = size_t(frame.nWidth) * 3 + nRowEnd - DibStride(frame.nWidth);
                 i < nRowEnd; ++i)
                ASSERT_EQ(frame.pixels[i], 0) << "padding of row " << y;
        }
        stream.reset();
        ExpectReleased(node);
    }
}

// The newest frame wins; a frame the driver marks as damaged and a wake-up
// with no frame behind it (EAGAIN) change nothing.
TEST_F(V4l2Scripted, KeepsNewestGoodFrame) {
    ScriptedV4l2::Camera camera = test::UvcCamera();
    camera.offers = {{V4L2_PIX_FMT_MJPEG, {{64, 48}}, {}, {{1, 30}}, {}}};
    std::string node = AddCamera("video0", camera);
    auto stream = Start(node, {64, 48, 333333});
    ASSERT_NE(stream, nullptr);
    auto isColour = [](uint32_t nRgb) {
        return [=](const CaptureFrame& f) { return Near(PixelAt(f, 32, 24), nRgb); };
    };
    Deliver(node, JpegHalves(64, 48, BLUE, BLUE));
    Deliver(node, JpegHalves(64, 48, RED, RED));
    WaitForFrame(*stream, isColour(RED));

    auto queuedAgain = [&] { return device_.Read(node, [](auto& c) { return c.nQueuedAgain; }); };
    int nQueued = queuedAgain();
    Deliver(node, JpegHalves(64, 48, GREEN, GREEN), V4L2_BUF_FLAG_ERROR);
    ASSERT_TRUE(test::WaitUntil([&] { return queuedAgain() == nQueued + 1; }));
    device_.SpuriousWake(node);
    ASSERT_TRUE(
        test::WaitUntil([&] { return device_.Read(node, [](auto& c) { return c.nEagain; }) > 0; }));
    CaptureFrame frame;
    ASSERT_EQ(stream->NewestFrame(frame), 0u);
    EXPECT_TRUE(isColour(RED)(frame)) << std::hex << PixelAt(frame, 32, 24);
    EXPECT_FALSE(stream->Lost());

    Deliver(node, JpegHalves(64, 48, BLUE, BLUE));
    WaitForFrame(*stream, isColour(BLUE));
}

// Unplugged while streaming, the last transfer cut short: the stream
// reports the loss and keeps giving the last good frame; stopping it then
// succeeds and releases the device.
TEST_F(V4l2Scripted, UnplugKeepsLastFrame) {
    std::string node = AddCamera("video0", test::UvcCamera());
    auto stream = Start(node, {320, 240, 333333});
    ASSERT_NE(stream, nullptr);
    Deliver(node, JpegHalves(320, 240, RED, BLUE));
    WaitForFrame(*stream, [](const CaptureFrame&) { return true; });
    auto queuedAgain = [&] { return device_.Read(node, [](auto& c) { return c.nQueuedAgain; }); };
    int nQueued = queuedAgain();
    std::vector<uint8_t> cut = JpegHalves(320, 240, GREEN, GREEN);
    cut.resize(cut.size() / 3);
    std::fill(cut.begin() + 200, cut.end(), 0x55);
    Deliver(node, cut);
    ASSERT_TRUE(test::WaitUntil([&] { return queuedAgain() == nQueued + 1; }));
    device_.Unplug(node);
    ASSERT_TRUE(test::WaitUntil([&] { return stream->Lost(); }));
    CaptureFrame frame;
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(stream->NewestFrame(frame), 0u);
        EXPECT_TRUE(Near(PixelAt(frame, 0, 0), RED)) << std::hex << PixelAt(frame, 0, 0);
    }
    EXPECT_EQ(stream->Stop(), 0u);
    ExpectReleased(node);
    std::unique_ptr<CaptureStream> again;
    std::string hint;
    EXPECT_NE(backend_.Start(node, {320, 240, 333333}, true, again, hint), 0u);
    EXPECT_EQ(again, nullptr);
}

// A camera another program holds, and a USB controller without bandwidth
// left: the start fails with the system's code and advice for the user,
// and leaves nothing open or mapped.
TEST_F(V4l2Scripted, StartFailuresGiveAdviceAndReleaseTheDevice) {
    struct Case {
        const char* what;
        int nOpenError;
        int nStreamOnError;
        bool fSecondStream;
        int nErrno;
        const char* hint;
    } cases[] = {
        {"open refused", EBUSY, 0, false, EBUSY, "カメラは他のプログラムが使用中です。"},
        {"already streaming", 0, 0, true, EBUSY, "カメラは他のプログラムが使用中です。"},
        {"no bandwidth", 0, ENOSPC, false, ENOSPC,
         "USBの帯域が不足しています。解像度の小さい形式を選ぶか、"
         "カメラを別のUSBポート(別のコントローラ)に接続してください。"},
    };
    int nCamera = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedV4l2::Camera camera = test::UvcCamera();
        camera.nOpenError = c.nOpenError;
        camera.nStreamOnError = c.nStreamOnError;
        std::string node = AddCamera("video" + std::to_string(nCamera++), camera);
        std::unique_ptr<CaptureStream> first;
        if (c.fSecondStream)
            first = Start(node, {640, 480, 333333});
        std::unique_ptr<CaptureStream> stream;
        std::string hint;
        EXPECT_EQ(backend_.Start(node, {640, 480, 333333}, true, stream, hint), MapErrno(c.nErrno));
        EXPECT_EQ(hint, c.hint);
        EXPECT_EQ(stream, nullptr);
        first.reset();
        ExpectReleased(node);
    }
}

// Controls by class, with menus whose skipped entries stay empty; a menu
// range a driver states up to INT32_MAX ends.
TEST_F(V4l2Scripted, ListsAndSetsControls) {
    auto query = [](uint32_t nId, uint32_t nType, const char* name, int32_t nMin, int32_t nMax,
                    int32_t nDefault, uint32_t nFlags = 0) {
        v4l2_queryctrl q{};
        q.id = nId;
        q.type = nType;
        std::strncpy(reinterpret_cast<char*>(q.name), name, sizeof q.name);
        q.minimum = nMin;
        q.maximum = nMax;
        q.step = 1;
        q.default_value = nDefault;
        q.flags = nFlags;
        return q;
    };
    const uint32_t CLASS_FLAGS = V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_WRITE_ONLY;
    ScriptedV4l2::Camera camera = test::UvcCamera();
    camera.controls = {
        {query(V4L2_CID_USER_CLASS, V4L2_CTRL_TYPE_CTRL_CLASS, "User Controls", 0, 0, 0,
               CLASS_FLAGS),
         {},
         0},
        {query(V4L2_CID_BRIGHTNESS, V4L2_CTRL_TYPE_INTEGER, "Brightness", -64, 64, 0,
               V4L2_CTRL_FLAG_INACTIVE | V4L2_CTRL_FLAG_SLIDER),
         {},
         10},
        {query(V4L2_CID_POWER_LINE_FREQUENCY, V4L2_CTRL_TYPE_MENU, "Power Line Frequency", 0, 2, 1),
         {"Disabled", "50 Hz", "60 Hz"},
         2},
        {query(V4L2_CID_SHARPNESS, V4L2_CTRL_TYPE_INTEGER, "Sharpness", 0, 7, 3,
               V4L2_CTRL_FLAG_DISABLED),
         {},
         3},
        {query(V4L2_CID_USER_BASE + 0x1000, V4L2_CTRL_TYPE_MENU, "Wide Menu", INT32_MAX - 2,
               INT32_MAX, INT32_MAX),
         {},
         INT32_MAX},
        {query(V4L2_CID_CAMERA_CLASS, V4L2_CTRL_TYPE_CTRL_CLASS, "Camera Controls", 0, 0, 0,
               CLASS_FLAGS),
         {},
         0},
        {query(V4L2_CID_EXPOSURE_AUTO, V4L2_CTRL_TYPE_MENU, "Auto Exposure", 0, 3, 3),
         {"", "Manual Mode", "", "Aperture Priority Mode"},
         3},
        {query(V4L2_CID_CAMERA_CLASS_BASE + 0x40, V4L2_CTRL_TYPE_STRING, "Text", 0, 32, 0), {}, 0},
    };
    std::string node = AddCamera("video0", camera);

    std::vector<CaptureControl> controls;
    ASSERT_EQ(backend_.ListControls(node, controls), 0u);
    ASSERT_EQ(controls.size(), 4u); // no classes, disabled or text controls
    EXPECT_EQ(controls[0].name, "Brightness");
    EXPECT_EQ(controls[0].className, "User Controls");
    EXPECT_EQ(controls[0].type, ControlType::Integer);
    EXPECT_EQ(controls[0].nMinimum, -64);
    EXPECT_EQ(controls[0].nValue, 10);
    EXPECT_EQ(controls[0].nFlags, uint32_t(V4L2_CTRL_FLAG_INACTIVE | V4L2_CTRL_FLAG_SLIDER));
    EXPECT_EQ(controls[1].nFlags, 0u);
    EXPECT_EQ(controls[1].menu, (std::vector<std::string>{"Disabled", "50 Hz", "60 Hz"}));
    EXPECT_EQ(controls[1].nValue, 2);
    EXPECT_EQ(controls[2].menu, std::vector<std::string>(3));
    EXPECT_EQ(controls[3].className, "Camera Controls");
    EXPECT_EQ(controls[3].menu,
              (std::vector<std::string>{"", "Manual Mode", "", "Aperture Priority Mode"}));

    EXPECT_EQ(backend_.SetControl(node, V4L2_CID_POWER_LINE_FREQUENCY, 1), 0u);
    EXPECT_EQ(backend_.SetControl(node, V4L2_CID_EXPOSURE_AUTO, 2), MapErrno(EINVAL));
    EXPECT_EQ(backend_.SetControl(node, V4L2_CID_CONTRAST, 1), MapErrno(EINVAL));
    ASSERT_EQ(backend_.ListControls(node, controls), 0u);
    EXPECT_EQ(controls[1].nValue, 1);
    EXPECT_EQ(controls[3].nValue, 3);
    ExpectReleased(node);
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
