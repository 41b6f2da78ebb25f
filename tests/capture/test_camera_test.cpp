#include "common/error_codes.h"
#include "common/ini_file.h"
#include "image/jpeg_codec.h"
#include "server/capture/capture_setup.h"
#include "server/capture/difference.h"
#include "server/capture/test_camera.h"

#include "capture_test_util.h"

#include <gtest/gtest.h>

namespace brindle {
namespace {

TEST(TestCamera, ListsItsDevicesAndFormats) {
    ManualClock clock;
    TestCameraBackend backend(2, clock);
    std::vector<CaptureDeviceInfo> devices;
    ASSERT_EQ(backend.Enumerate(devices), 0u);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].friendlyName, "Brindle Test Camera");
    EXPECT_EQ(devices[0].devicePath, "testcam:0");
    EXPECT_EQ(devices[1].devicePath, "testcam:1");
    EXPECT_EQ(devices[0].formats,
              (std::vector<CaptureFormat>{
                  {640, 480, 333333}, {1280, 720, 333333}, {1920, 1080, 333333}}));
    EXPECT_TRUE(backend.Handles("testcam:1"));
    for (const char* path : {"testcam:2", "testcam:", "testcam:x", "/dev/video0", "testcam:-1"})
        EXPECT_FALSE(backend.Handles(path)) << path;
}

uint64_t Difference(const CaptureFrame& a, const CaptureFrame& b) {
    return FrameDifferenceSum(a.pixels.data(), b.pixels.data(), a.nWidth, a.nHeight);
}

// Frozen, the camera repeats its picture exactly while time passes; a new
// scene differs strongly; running, the picture moves.
TEST(TestCamera, FreezeAndSceneChangesDriveTheDifference) {
    ManualClock clock;
    TestCameraBackend backend(1, clock);
    std::unique_ptr<CaptureStream> stream;
    std::string hint;
    ASSERT_EQ(backend.Start("testcam:0", {1280, 720, 333333}, true, stream, hint), 0u);
    CaptureFrame first, second;
    backend.Scene(0).Freeze(true);
    ASSERT_EQ(stream->NewestFrame(first), 0u);
    EXPECT_EQ(first.nWidth, 1280);
    EXPECT_EQ(first.nHeight, 720);
    clock.Advance(5000);
    ASSERT_EQ(stream->NewestFrame(second), 0u);
    EXPECT_EQ(Difference(first, second), 0u);

    backend.Scene(0).NextScene();
    ASSERT_EQ(stream->NewestFrame(second), 0u);
    EXPECT_GT(DifferenceLevel(Difference(first, second), 1280, 720), 10000);

    backend.Scene(0).Freeze(false);
    ASSERT_EQ(stream->NewestFrame(first), 0u);
    clock.Advance(1000);
    ASSERT_EQ(stream->NewestFrame(second), 0u);
    EXPECT_GT(Difference(first, second), 0u);
    EXPECT_EQ(stream->Stop(), 0u);
    EXPECT_NE(stream->NewestFrame(first), 0u);
}

TEST(TestCamera, UnknownFormatKeepsTheCurrentOne) {
    TestCameraBackend backend(1);
    std::unique_ptr<CaptureStream> stream;
    std::string hint;
    ASSERT_EQ(backend.Start("testcam:0", {800, 600, 333333}, true, stream, hint), 0u);
    CaptureFrame frame;
    ASSERT_EQ(stream->NewestFrame(frame), 0u);
    EXPECT_EQ(frame.nWidth, 640);
    EXPECT_EQ(frame.nHeight, 480);
    EXPECT_EQ(backend.Start("testcam:5", {640, 480, 0}, true, stream, hint),
              ERROR_FILE_NOT_FOUND_CODE);
}

TEST(TestCamera, ControlsAreASliderACheckBoxAndAMenu) {
    ManualClock clock;
    TestCameraBackend backend(1, clock);
    std::vector<CaptureControl> controls;
    ASSERT_EQ(backend.ListControls("testcam:0", controls), 0u);
    ASSERT_EQ(controls.size(), 3u);
    EXPECT_EQ(controls[0].type, ControlType::Integer);
    EXPECT_EQ(controls[1].type, ControlType::Boolean);
    EXPECT_EQ(controls[2].type, ControlType::Menu);
    EXPECT_EQ(controls[2].menu,
              (std::vector<std::string>{"Bars", "Gradient", "Checker", "Texture"}));
    EXPECT_NE(controls[0].className, controls[2].className);

    // A control changes the picture.
    std::unique_ptr<CaptureStream> stream;
    std::string hint;
    ASSERT_EQ(backend.Start("testcam:0", {640, 480, 333333}, true, stream, hint), 0u);
    backend.Scene(0).Freeze(true);
    CaptureFrame before, after;
    ASSERT_EQ(stream->NewestFrame(before), 0u);
    EXPECT_EQ(backend.SetControl("testcam:0", TEST_CONTROL_PATTERN, 2), 0u);
    ASSERT_EQ(stream->NewestFrame(after), 0u);
    EXPECT_GT(Difference(before, after), 0u);

    ASSERT_EQ(backend.ListControls("testcam:0", controls), 0u);
    EXPECT_EQ(controls[2].nValue, 2);
    EXPECT_EQ(backend.SetControl("testcam:0", TEST_CONTROL_BRIGHTNESS, 256),
              ERROR_INVALID_PARAMETER_CODE);
    EXPECT_EQ(backend.SetControl("testcam:0", 99, 0), ERROR_INVALID_PARAMETER_CODE);
}

// JPEG bytes of a bottom-up frame at a quality.
size_t JpegSize(const CaptureFrame& frame, int nQuality) {
    std::vector<const uint8_t*> rows(size_t(frame.nHeight));
    for (int32_t r = 0; r < frame.nHeight; ++r)
        rows[size_t(r)] =
            frame.pixels.data() + DibStride(frame.nWidth) * size_t(frame.nHeight - 1 - r);
    JpegEncoder encoder;
    EXPECT_EQ(encoder.Encode(rows.data(), frame.nWidth, frame.nHeight, nQuality), 0u);
    return encoder.Size();
}

// The textured picture encodes like a real camera's: a few hundred KB at
// 1080p and quality 90, where the bars give a small fraction of that. Its
// noise changes from frame to frame, and stays put while frozen; scenes
// differ from each other everywhere.
TEST(TestCamera, TexturedPictureEncodesLikeARealScene) {
    ManualClock clock;
    TestCameraBackend backend(1, clock, TEST_PATTERN_TEXTURE);
    std::vector<CaptureControl> controls;
    ASSERT_EQ(backend.ListControls("testcam:0", controls), 0u);
    EXPECT_EQ(controls[2].nValue, TEST_PATTERN_TEXTURE);
    std::unique_ptr<CaptureStream> stream;
    std::string hint;
    ASSERT_EQ(backend.Start("testcam:0", {1920, 1080, 333333}, true, stream, hint), 0u);
    CaptureFrame first, second;
    ASSERT_EQ(stream->NewestFrame(first), 0u);
    ASSERT_EQ(first.nWidth, 1920);
    size_t nTextured = JpegSize(first, 90);
    EXPECT_GT(nTextured, 200u * 1024);
    EXPECT_LT(nTextured, 900u * 1024);

    clock.Advance(40);
    ASSERT_EQ(stream->NewestFrame(second), 0u);
    uint64_t nNoise = Difference(first, second);
    EXPECT_GT(nNoise, 0u);
    backend.Scene(0).Freeze(true);
    ASSERT_EQ(stream->NewestFrame(first), 0u);
    clock.Advance(5000);
    ASSERT_EQ(stream->NewestFrame(second), 0u);
    EXPECT_EQ(Difference(first, second), 0u);
    for (int i = 0; i < 2; ++i) {
        backend.Scene(0).NextScene();
        ASSERT_EQ(stream->NewestFrame(second), 0u);
        EXPECT_GT(Difference(first, second), 10 * nNoise) << i;
    }

    ASSERT_EQ(backend.SetControl("testcam:0", TEST_CONTROL_PATTERN, TEST_PATTERN_BARS), 0u);
    ASSERT_EQ(stream->NewestFrame(second), 0u);
    EXPECT_LT(JpegSize(second, 90) * 4, nTextured);
}

// "--test-camera [N]" wins over the "TestCamera" setting.
TEST(TestCamera, SwitchedOnByOptionOrSetting) {
    test::TempDir dir;
    std::string file = dir.File("BrindleHost.ini");
    struct Case {
        std::vector<std::string> arguments;
        int nCount;
    } cases[] = {
        {{}, 0},
        {{"--test-camera"}, 1},
        {{"--test-camera", "3"}, 3},
        {{"--test-camera", "--headless"}, 1},
        {{"--headless", "--test-camera=2"}, 2},
        {{"--test-camera=x"}, 1},
        {{"--test-camera", "99"}, TEST_CAMERA_MAX},
        {{"--test-camera", "0"}, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TestCameraCount(c.arguments, file), c.nCount) << c.arguments.size();
    ASSERT_EQ(IniWriteKey(file, "Settings", "TestCamera", "2"), 0u);
    EXPECT_EQ(TestCameraCount({}, file), 2);
    EXPECT_EQ(TestCameraCount({"--test-camera", "1"}, file), 1);

    ServerBackends backends(2);
    EXPECT_TRUE(backends.backend.Handles("testcam:1"));
    EXPECT_TRUE(backends.backend.Handles("/dev/v4l/by-id/usb-cam"));
    EXPECT_FALSE(ServerBackends(0).backend.Handles("testcam:0"));
}

} // namespace
} // namespace brindle
