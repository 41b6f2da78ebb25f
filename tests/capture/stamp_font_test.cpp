#include "common/error_codes.h"
#include "common/ini_file.h"
#include "server/capture/camera_list.h"
#include "server/capture/stamp_font.h"
#include "support/scripted_backend.h"

#include "capture_test_util.h"

#include <gtest/gtest.h>

namespace brindle {
namespace {

constexpr char kBigFont[] = "-40,0,0,0,700,1,0,0,128,0,0,3,0,DejaVu Sans Mono";

TEST(StampFont, TextSetsTheCameraFontUnderTheLock) {
    CameraEntry camera;
    std::mutex lock;
    ASSERT_EQ(SetStampFont(camera, kBigFont, lock), 0u);
    EXPECT_EQ(camera.settings.fFont, 1);
    EXPECT_EQ(camera.stampFont.pixelSize(), 40);
    EXPECT_EQ(camera.stampFont.weight(), QFont::Bold);
    EXPECT_TRUE(camera.stampFont.italic());
    EXPECT_EQ(camera.stampFont.family(), "DejaVu Sans Mono");
    EXPECT_TRUE(camera.stampFont.styleStrategy() & QFont::NoAntialias);
    EXPECT_EQ(StampFontText(camera.settings), kBigFont);

    // A text without all thirteen numbers leaves the font as it was.
    EXPECT_EQ(SetStampFont(camera, "-12,0,0,Arial", lock), ERROR_INVALID_PARAMETER_CODE);
    EXPECT_EQ(camera.stampFont.pixelSize(), 40);
    EXPECT_EQ(SetStampFont(camera, "", lock), 0u);
    EXPECT_EQ(camera.settings.fFont, 0);
    EXPECT_EQ(camera.stampFont, DefaultStampFont());
    EXPECT_EQ(StampFontText(camera.settings), "");
}

TEST(StampFont, QFontAndLogFontMapBothWays) {
    QFont qfont(QStringLiteral("DejaVu Serif"));
    qfont.setPixelSize(22);
    qfont.setWeight(QFont::DemiBold);
    qfont.setUnderline(true);
    LogFont font = LogFontFromQFont(qfont);
    EXPECT_EQ(font.lfHeight, -22);
    EXPECT_EQ(font.lfWeight, 600);
    EXPECT_EQ(font.lfUnderline, 1);
    EXPECT_STREQ(font.lfFaceName, "DejaVu Serif");
    QFont back = QFontFromLogFont(font);
    EXPECT_EQ(back.pixelSize(), 22);
    EXPECT_EQ(back.weight(), QFont::DemiBold);
    EXPECT_TRUE(back.underline());
}

// The camera's font is read with the list and the stamp is drawn with it.
TEST(StampFont, ListReadsTheFontAndTheStampUsesIt) {
    test::TempDir dir;
    test::LogCapture log(dir);
    std::string file = dir.File("BrindleHost.ini");
    ScriptedBackend backend;
    CaptureDeviceInfo device;
    device.friendlyName = "Cam";
    device.devicePath = "/dev/c";
    device.formats = {{320, 240, 0}};
    backend.devices = {device, device};
    backend.devices[1].devicePath = "/dev/d";
    ASSERT_EQ(IniWriteKey(file, "/dev/c", "Font", kBigFont), 0u);
    ASSERT_EQ(IniWriteKey(file, "/dev/d", "Font", "garbage"), 0u);
    std::vector<CameraEntry> cameras;
    ASSERT_EQ(BuildCameraList(backend, file, cameras), 0u);
    ASSERT_EQ(cameras.size(), 2u);
    EXPECT_EQ(cameras[0].stampFont.pixelSize(), 40);
    EXPECT_EQ(cameras[1].settings.fFont, 0);

    CaptureFrame frame = MakeFrame(320, 240, [](int32_t, int32_t) { return 0x808080u; });
    CompositionSurface big, normal;
    StampPlacement atBig, atNormal;
    ASSERT_TRUE(big.Compose(frame, 1, cameras[0].stampFont, "2024-01-01", atBig));
    ASSERT_TRUE(normal.Compose(frame, 1, cameras[1].stampFont, "2024-01-01", atNormal));
    EXPECT_GT(atBig.cy, atNormal.cy + 10);
}

} // namespace
} // namespace brindle
