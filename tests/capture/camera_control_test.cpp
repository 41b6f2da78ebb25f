#include "common/error_codes.h"
#include "common/ini_file.h"
#include "imagestore/image_path.h"
#include "server/capture/camera_control.h"
#include "server/capture/camera_list.h"
#include "server/capture/frame_cycle.h"
#include "server/capture/test_camera.h"
#include "support/scripted_backend.h"

#include "capture_test_util.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace brindle {
namespace {

class RecordingReporter : public CaptureReporter {
  public:
    void StartFailed(const CameraSettings& camera, uint32_t nCode,
                     const std::string& hint) override {
        starts.push_back(StartFailureText(camera.cName, nCode, hint));
    }
    void StopFailed(const CameraSettings& camera) override {
        stops.push_back(StopFailureText(camera.cName));
    }
    std::vector<std::string> starts, stops;
};

class CameraControlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CaptureDeviceInfo device;
        device.friendlyName = "Cam";
        device.devicePath = "/dev/c";
        backend_.devices = {device};
        camera_.settings.cName = "Cam";
        camera_.settings.cPath = "/dev/c";
        camera_.settings.nConnect = 1;
        camera_.settings.formats = {{640, 480, 333333}, {1280, 720, 666666}};
        camera_.settings.nFormat = 1;
    }
    ScriptedBackend backend_;
    CameraEntry camera_;
    RecordingReporter reporter_;
};

TEST_F(CameraControlTest, StartsInTheSelectedFormatAndStopsReleasingEverything) {
    camera_.settings.fPreview = 1;
    ASSERT_EQ(StartCamera(camera_, backend_, reporter_), 1);
    const ScriptedBackend::Script& script = backend_.ScriptOf("/dev/c");
    EXPECT_EQ(script.lastWanted, (CaptureFormat{1280, 720, 666666}));
    EXPECT_TRUE(script.fLastMatchInterval);
    EXPECT_EQ(camera_.capture.fRunning, 1);
    EXPECT_EQ(camera_.capture.fPreviewAtStart, 1);
    EXPECT_EQ(camera_.capture.surface.Width(), 1280);
    EXPECT_EQ(StartCamera(camera_, backend_, reporter_), 1); // already running
    EXPECT_EQ(script.nStarts, 1);

    EXPECT_EQ(StopCamera(camera_, reporter_), 1);
    EXPECT_EQ(script.nRunning, 0);
    EXPECT_EQ(camera_.capture.fRunning, 0);
    EXPECT_EQ(camera_.capture.fPreviewAtStart, 0);
    EXPECT_FALSE(camera_.capture.surface.Exists());
    EXPECT_TRUE(reporter_.starts.empty());
}

// Start failures name the camera and the code, plus advice in plain words
// when there is some; stop failures still release everything.
TEST_F(CameraControlTest, FailuresAreReportedAndLeaveTheCameraStopped) {
    ScriptedBackend::Script& script = backend_.ScriptOf("/dev/c");
    script.nStartError = ERROR_DISK_FULL_CODE;
    script.startHint = "USBの帯域が不足しています。";
    EXPECT_EQ(StartCamera(camera_, backend_, reporter_), 0);
    ASSERT_EQ(reporter_.starts.size(), 1u);
    EXPECT_EQ(reporter_.starts[0],
              "Camの開始でエラーが発生しました(00000070)\nUSBの帯域が不足しています。");
    EXPECT_EQ(camera_.capture.fRunning, 0);

    script.nStartError = 0;
    script.nStopError = 31;
    ASSERT_EQ(StartCamera(camera_, backend_, reporter_), 1);
    EXPECT_EQ(StopCamera(camera_, reporter_), 0);
    EXPECT_EQ(reporter_.stops, std::vector<std::string>{"Camの停止でエラーが発生しました"});
    EXPECT_EQ(camera_.capture.fRunning, 0);
    EXPECT_EQ(script.nRunning, 0);

    test::TempDir dir;
    test::LogCapture log(dir);
    LogCaptureReporter logReporter;
    script.nStartError = 5;
    script.startHint.clear();
    EXPECT_EQ(StartCamera(camera_, backend_, logReporter), 0);
    EXPECT_EQ(log.Count("Camの開始でエラーが発生しました(00000005)\r\n"), 1);
}

// The reference frame, the history and the change state outlive a restart.
TEST_F(CameraControlTest, FrameCycleStateSurvivesARestart) {
    camera_.cycle.fReference = true;
    camera_.cycle.nChangeState = 3;
    camera_.cycle.history.nCount = 7;
    ASSERT_EQ(StartCamera(camera_, backend_, reporter_), 1);
    ASSERT_EQ(StopCamera(camera_, reporter_), 1);
    ASSERT_EQ(StartCamera(camera_, backend_, reporter_), 1);
    EXPECT_TRUE(camera_.cycle.fReference);
    EXPECT_EQ(camera_.cycle.nChangeState, 3);
    EXPECT_EQ(camera_.cycle.history.nCount, 7);
}

// The whole road with the built-in test camera: list, start, cycles, and
// decodable JPEGs in the dated folder and in the queue.
TEST(TestCameraPipeline, LeavesDecodableJpegsInTheDatedFolder) {
    test::TempDir dir;
    test::LogCapture log(dir);
    std::string file = dir.File("BrindleHost.ini");
    for (auto [key, value] : {std::pair{"Use", "Yes"},
                              {"Save", "Yes"},
                              {"Send", "Yes"},
                              {"Cycle", "1"},
                              {"Time", "4"},
                              {"Format", "0"},
                              {"Quality", "60"}})
        ASSERT_EQ(IniWriteKey(file, "testcam:0", key, value), 0u);
    std::filesystem::create_directory(dir.File("images"));

    ManualClock clock;
    clock.SetLocalNow(SystemTime{.wYear = 2025, .wMonth = 1, .wDay = 2, .wHour = 3});
    TestCameraBackend backend(1, clock);
    std::vector<CameraEntry> cameras;
    ASSERT_EQ(BuildCameraList(backend, file, cameras), 0u);
    ASSERT_EQ(cameras.size(), 1u);
    EXPECT_EQ(cameras[0].settings.cName2, "Brindle_Test_Camera");
    LogCaptureReporter reporter;
    StartCamerasInUse(cameras, backend, reporter);
    ASSERT_EQ(cameras[0].capture.fRunning, 1);

    ServerShared shared;
    PublishCameras(cameras, shared);
    shared.nConnectionStatus = CONNECTION_CONNECTED;
    PowerState power;
    NoFrameCycleEvents events;
    FrameCycleContext context{clock, shared, dir.File("images"), power, events};
    for (uint16_t nSecond = 1; nSecond <= 3; ++nSecond) {
        clock.Advance(1000);
        clock.SetLocalNow(
            SystemTime{.wYear = 2025, .wMonth = 1, .wDay = 2, .wHour = 3, .wSecond = nSecond});
        RunFrameCycle(cameras[0], 0, context);
    }
    std::filesystem::path day = dir.File("images/Brindle_Test_Camera/20250102");
    for (const char* name : {"030001-000.jpg", "030002-000.jpg", "030003-000.jpg"}) {
        DecodedImage image;
        ASSERT_EQ(DecodeJpegFile((day / name).string(), image), 0u) << name;
        EXPECT_EQ(image.nWidth, 640);
        EXPECT_EQ(image.nHeight, 480);
    }
    std::lock_guard<std::mutex> guard(shared.mainLock);
    ASSERT_EQ(shared.queue.Count(), 3u);
    DecodedImage queued;
    EXPECT_EQ(
        DecodeJpeg(shared.queue.Head()->jpeg.data(), shared.queue.Head()->jpeg.size(), queued), 0u);
}

} // namespace
} // namespace brindle
