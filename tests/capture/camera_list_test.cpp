#include "common/error_codes.h"
#include "common/ini_file.h"
#include "server/capture/camera_control.h"
#include "server/capture/camera_list.h"
#include "support/scripted_backend.h"

#include "capture_test_util.h"

#include <gtest/gtest.h>

namespace brindle {
namespace {

CaptureDeviceInfo Device(const std::string& name, const std::string& path,
                         std::vector<CaptureFormat> formats = {{640, 480, 333333}}) {
    CaptureDeviceInfo device;
    device.friendlyName = name;
    device.devicePath = path;
    device.formats = std::move(formats);
    return device;
}

class CameraListTest : public ::testing::Test {
  protected:
    std::string Key(const std::string& section, const std::string& key) const {
        std::string value;
        IniReadKey(file_, section, key, value);
        return value;
    }
    void Set(const std::string& section, const std::string& key, const std::string& value) {
        ASSERT_EQ(IniWriteKey(file_, section, key, value), 0u);
    }
    std::vector<CameraEntry> Build() {
        std::vector<CameraEntry> cameras;
        EXPECT_EQ(BuildCameraList(backend_, file_, cameras), 0u);
        return cameras;
    }
    static std::vector<std::string> Folders(const std::vector<CameraEntry>& cameras) {
        std::vector<std::string> folders;
        for (const CameraEntry& camera : cameras)
            folders.push_back(camera.settings.cName2);
        return folders;
    }

    test::TempDir dir_;
    test::LogCapture log_{dir_};
    std::string file_ = dir_.File("BrindleHost.ini");
    ScriptedBackend backend_;
};

// Two cameras of one model: "Name" and "Name[2]", each with its own
// section; their order and names survive a restart in which the system
// lists them the other way round.
TEST_F(CameraListTest, SameModelTwiceKeepsNamesAndOrderAcrossRestarts) {
    backend_.devices = {Device("USB Cam", "/dev/v4l/by-id/cam-A"),
                        Device("USB Cam", "/dev/v4l/by-id/cam-B")};
    std::vector<CameraEntry> first = Build();
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(Folders(first), (std::vector<std::string>{"USB_Cam", "USB_Cam[2]"}));
    EXPECT_EQ(first[1].settings.nIndex, 2);
    EXPECT_EQ(Key("/dev/v4l/by-id/cam-B", "Name2"), "USB_Cam[2]");
    EXPECT_EQ(Key("Camera", "PathList2"), "/dev/v4l/by-id/cam-A|/dev/v4l/by-id/cam-B|");
    EXPECT_EQ(log_.Count("カメラ検出#1:USB Cam\n"), 1);
    EXPECT_EQ(log_.Count("カメラ検出#2:USB Cam\n"), 1);

    std::swap(backend_.devices[0], backend_.devices[1]);
    std::vector<CameraEntry> second = Build();
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0].settings.cPath, "/dev/v4l/by-id/cam-A");
    EXPECT_EQ(Folders(second), (std::vector<std::string>{"USB_Cam", "USB_Cam[2]"}));
    EXPECT_EQ(second[0].settings.nConnect, 1);
    EXPECT_EQ(second[1].settings.nConnect, 2);
    EXPECT_EQ(Key("Camera", "PathList"), "/dev/v4l/by-id/cam-B|/dev/v4l/by-id/cam-A|");
}

// Unplugged since the last run: the camera keeps its place, settings and
// formats, is not connected and cannot start.
TEST_F(CameraListTest, UnpluggedCameraKeepsPlaceSettingsAndFormats) {
    backend_.devices = {Device("Front", "/dev/front", {{1280, 720, 333333}, {640, 480, 0}}),
                        Device("Back", "/dev/back")};
    Build();
    Set("/dev/front", "Use", "Yes");
    Set("/dev/front", "Quality", "80");
    Set("/dev/front", "Format", "1");

    backend_.devices = {Device("Back", "/dev/back"), Device("Side", "/dev/side")};
    std::vector<CameraEntry> cameras = Build();
    ASSERT_EQ(cameras.size(), 3u);
    const CameraSettings& front = cameras[0].settings;
    EXPECT_EQ(front.cPath, "/dev/front");
    EXPECT_EQ(front.nConnect, 0);
    EXPECT_EQ(front.cName, "Front");
    EXPECT_EQ(front.fUse, 1);
    EXPECT_EQ(front.nQuality, 80);
    EXPECT_EQ(front.nFormat, 1);
    EXPECT_EQ(front.formats, (std::vector<CaptureFormat>{{1280, 720, 333333}, {640, 480, 0}}));
    EXPECT_EQ(cameras[1].settings.cPath, "/dev/back");
    EXPECT_EQ(cameras[1].settings.nConnect, 2);
    EXPECT_EQ(cameras[2].settings.cPath, "/dev/side");
    EXPECT_EQ(Key("Camera", "Count"), "2");

    test::LogCapture log(dir_);
    LogCaptureReporter reporter;
    EXPECT_EQ(StartCamera(cameras[0], backend_, reporter), 0);
    EXPECT_EQ(log.Count("Frontの開始でエラーが発生しました(00000002)"), 1);
}

TEST_F(CameraListTest, NoDeviceLeavesTheRememberedCamerasOnly) {
    std::vector<CameraEntry> cameras = Build();
    EXPECT_TRUE(cameras.empty()); // no phantom camera for the empty first list
    Set("Camera", "PathList2", "|/dev/a||/dev/a|/DEV/A|/dev/b|");
    cameras = Build();
    ASSERT_EQ(cameras.size(), 2u);
    EXPECT_EQ(cameras[0].settings.cPath, "/dev/a");
    EXPECT_EQ(cameras[1].settings.cPath, "/dev/b");
    EXPECT_EQ(cameras[0].settings.nConnect, 0);
}

TEST_F(CameraListTest, DevicesWithoutFormatsOrListedTwiceAreSkipped) {
    backend_.devices = {
        Device("Empty", "/dev/e", {}),
        Device("Cam", "/dev/c", {{640, 480, 333333}, {640, 480, 333333}, {640, 480, 666666}}),
        Device("CAM", "/DEV/C", {{320, 240, 0}})};
    std::vector<CameraEntry> cameras = Build();
    ASSERT_EQ(cameras.size(), 1u);
    EXPECT_EQ(cameras[0].settings.formats,
              (std::vector<CaptureFormat>{{640, 480, 333333}, {640, 480, 666666}}));
    EXPECT_EQ(Key("/dev/c", "FormatList"), "640x480x333333|640x480x666666|");
}

TEST_F(CameraListTest, DefaultsAndClampsOfTheCameraSettings) {
    backend_.devices = {Device("Cam", "/dev/c", {{640, 480, 333333}, {320, 240, 333333}})};
    std::vector<CameraEntry> cameras = Build();
    const CameraSettings& fresh = cameras.at(0).settings;
    EXPECT_EQ(fresh.fUse + fresh.fSend + fresh.fPreview + fresh.fChange + fresh.fSave, 0);
    EXPECT_EQ(fresh.nFormat, 0);
    EXPECT_EQ(fresh.nDays, 31);
    EXPECT_EQ(fresh.nSensitivity, 5);
    EXPECT_EQ(fresh.nQuality, 25);
    EXPECT_EQ(fresh.nCycle, 60);
    EXPECT_EQ(fresh.nTime, 0);
    EXPECT_EQ(Key("/dev/c", "Connect"), "1");
    EXPECT_EQ(Key("/dev/c", "Index"), "1");

    for (auto [key, value] : {std::pair{"Format", "9"},
                              {"Time", "7"},
                              {"Cycle", "0"},
                              {"Quality", "150"},
                              {"Sensitivity", "12"},
                              {"Days", "0"},
                              {"Send", "yes"}})
        Set("/dev/c", key, value);
    cameras = Build();
    const CameraSettings& clamped = cameras.at(0).settings;
    EXPECT_EQ(clamped.nFormat, 1);
    EXPECT_EQ(clamped.nTime, 4);
    EXPECT_EQ(clamped.nCycle, 1);
    EXPECT_EQ(clamped.nQuality, 100);
    EXPECT_EQ(clamped.nSensitivity, 9);
    EXPECT_EQ(clamped.nDays, 0); // 0 keeps every image; it is no value to correct
    EXPECT_EQ(clamped.fSend, 1);
    EXPECT_EQ(Key("/dev/c", "Format"), "1"); // written back
    EXPECT_EQ(Key("/dev/c", "Time"), "4");
    EXPECT_EQ(Key("/dev/c", "Cycle"), "0"); // read as 1, not written

    CameraSettings changed = clamped;
    changed.fUse = 1;
    changed.nCycle = 5;
    ASSERT_EQ(SaveCameraSettings(changed, file_), 0u);
    EXPECT_EQ(Key("/dev/c", "Use"), "Yes");
    EXPECT_EQ(Key("/dev/c", "Cycle"), "5");
    EXPECT_EQ(Key("/dev/c", "Days"), "0");
}

TEST(CameraFolderNameTest, BlanksBecomeUnderscoresAndUnsafeCharactersGo) {
    struct Case {
        const char* pcName;
        int nIndex;
        const char* pcFolder;
    } cases[] = {
        {"Vendor: HD Webcam C270", 1, "Vendor_HD_Webcam_C270"},
        {"USB Cam", 2, "USB_Cam[2]"},
        {"a\\b/c:d;e*f?g\"h<i>j|k\tl", 0, "abcdefghijk_l"},
        {"カメラ 1", 3, "カメラ_1[3]"},
        {"../..", 1, "...."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CameraFolderName(c.pcName, c.nIndex), c.pcFolder) << c.pcName;
}

TEST(FormatListTest, ParsesAndWritesTheListText) {
    EXPECT_EQ(FormatListText({{640, 480, 333333}, {1920, 1080, 0}}), "640x480x333333|1920x1080x0|");
    struct Case {
        const char* pcText;
        std::vector<CaptureFormat> formats;
    } cases[] = {
        {"640x480x333333|1920x1080x0|", {{640, 480, 333333}, {1920, 1080, 0}}},
        {"640x480x333333", {{640, 480, 333333}}},
        {"", {}},
        {"||", {}},
        {"garbage|640x480|1x2x3|", {{0, 0, 0}, {0, 0, 0}, {1, 2, 3}}},
        {"-5x 7x99999999999|", {{-5, 7, 99999999999}}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CaptureFormatsOf(c.pcText), c.formats) << c.pcText;
    std::string many;
    for (int i = 0; i < 5000; ++i)
        many += "1x1x1|";
    EXPECT_EQ(CaptureFormatsOf(many).size(), CAMERA_FORMATS_MAX);
}

TEST(FormatListTest, DisplayTextShowsTheRateInThousandths) {
    EXPECT_EQ(FormatDisplayText({640, 480, 333333}), "640 x 480, 30.000 fps");
    EXPECT_EQ(FormatDisplayText({1280, 720, 333666}), "1280 x 720, 29.970 fps");
    EXPECT_EQ(FormatDisplayText({320, 240, 0}), "320 x 240, 0.000 fps");
}

TEST(PathListTest, SplitsAtBars) {
    EXPECT_EQ(SplitPathList(""), std::vector<std::string>{""});
    EXPECT_EQ(SplitPathList("|||"), std::vector<std::string>{""});
    EXPECT_EQ(SplitPathList("a|b|"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(SplitPathList("a||b"), (std::vector<std::string>{"a", "b"}));
}

TEST(CameraBoxTest, LinesFindTheirCamera) {
    std::vector<CameraEntry> cameras(2);
    cameras[0].settings.cName = "USB Cam";
    cameras[0].settings.nIndex = 1;
    cameras[0].settings.cPath = "/dev/a";
    cameras[1].settings.cName = "USB Cam";
    cameras[1].settings.nIndex = 2;
    cameras[1].settings.cPath = "/dev/b";
    std::string line = CameraBoxText(cameras[1].settings);
    EXPECT_EQ(line, "USB Cam [2]" + std::string(69, ' ') + "\t/dev/b");
    EXPECT_EQ(FindCameraByBoxText(cameras, line), 1);
    EXPECT_EQ(FindCameraByBoxText(cameras, CameraBoxText(cameras[0].settings)), 0);
    EXPECT_EQ(FindCameraByBoxText(cameras, "USB Cam\t/dev/c"), -1);
}

} // namespace
} // namespace brindle
