// The remote property dialog end to end: BrindleHost headless with its test
// camera, BrindleView headless connected to it over loopback, both worked
// through their standard input the way a user at a terminal would.
#include "common/ini_file.h"
#include "e2e/e2e_support.h"
#include "image/jpeg_codec.h"
#include "support/file_text.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>

namespace brindle::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCamera = "testcam:0";
constexpr int kLimitMs = 60000; // a safety net on a loaded machine, never waited out

class PropertyE2eTest : public ::testing::Test {
  protected:
    void SetUp() override {
        nPort = FreeLoopbackPort();
        fs::create_directories(dir.File("host"));
        fs::create_directories(dir.File("view"));
        WriteFileText(dir.File("host/BrindleHost.ini"),
                      "[Settings]\r\nPort=" + std::to_string(nPort) + "\r\n[" + kCamera +
                          "]\r\nUse=Yes\r\nSend=Yes\r\nSave=Yes\r\nCycle=1\r\nTime=0\r\n");
        ASSERT_TRUE(host.StartPiped(HostProgram(),
                                    {"--headless", "--data-dir", dir.File("host"), "--test-camera",
                                     "--listen", "127.0.0.1"},
                                    dir.File("host.out")));
        ASSERT_TRUE(WaitAccepting(nPort, kLimitMs)) << HostOutput();
        ASSERT_TRUE(view.StartPiped(ViewProgram(),
                                    {"--headless", "--data-dir", dir.File("view"), "--connect",
                                     "127.0.0.1:" + std::to_string(nPort)},
                                    dir.File("view.out")));
        // The first image means the camera table is there.
        ASSERT_TRUE(WaitUntil([&] { return !ClientImages().empty(); }, kLimitMs, 50))
            << ViewOutput();
    }

    std::string HostOutput() { return ReadFileText(dir.File("host.out")); }
    std::string ViewOutput() { return ReadFileText(dir.File("view.out")); }

    // Waits for `text` in the client's output after what was read so far
    // and moves past it.
    bool ViewSays(const std::string& text) {
        bool fFound = WaitUntil(
            [&] {
                size_t at = ViewOutput().find(text, nRead);
                if (at == std::string::npos)
                    return false;
                nRead = at + text.size();
                return true;
            },
            kLimitMs, 20);
        if (!fFound)
            ADD_FAILURE() << "BrindleView never said: " << text << "\n" << ViewOutput();
        return fFound;
    }

    // The dialog as the client printed it, from the open to its end.
    std::string OpenDialog() {
        size_t nFrom = nRead;
        EXPECT_TRUE(view.Input("property open 1\n"));
        if (!ViewSays("property end"))
            return {};
        return ViewOutput().substr(nFrom, nRead - nFrom);
    }

    std::map<std::string, std::string> ClientImages() {
        std::string name2;
        IniReadKey(dir.File("host/BrindleHost.ini"), kCamera, "Name2", name2);
        if (name2.empty())
            return {};
        return ImageFiles(dir.File("view/127.0.0.1/" + name2));
    }

    // The mean of every colour byte of the newest image the client holds.
    double NewestMean() {
        std::map<std::string, std::string> images = ClientImages();
        DecodedImage image;
        const std::string& bytes = images.rbegin()->second;
        if (DecodeJpeg(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), image) != 0)
            return -1;
        double sum = 0;
        for (uint8_t v : image.pixels)
            sum += v;
        return sum / double(image.pixels.size());
    }

    TempDir dir;
    uint16_t nPort = 0;
    ChildProcess host;
    ChildProcess view;
    size_t nRead = 0;
};

TEST_F(PropertyE2eTest, ClientWorksTheTestCameraDialogAndTheServerClosesIt) {
    std::string dialog = OpenDialog();
    for (const char* line : {
             "property dialog \"Brindle Test Camera\" camera 1\n",
             "property tabs \"User Controls\" \"Camera Controls\" selected \"User Controls\"\n",
             "property slider \"Brightness\" 0..255 at 128\n",
             "property check \"Show Time\" on\n",
             "property list \"Pattern\" entries \"Bars\" \"Gradient\" \"Checker\" \"Texture\" "
             "selected \"Bars\"\n",
         })
        EXPECT_NE(dialog.find(line), std::string::npos) << line << "in\n" << dialog;

    // The slider goes out after its settling time and the server answers
    // with the value the camera took.
    double fBefore = NewestMean();
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(view.Input("property slider Brightness 200\n"));
    ASSERT_TRUE(ViewSays("property update slider \"Brightness\" 0..255 at 200\n"));
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    RecordProperty("slider_to_update_ms", std::to_string(elapsed.count()));
    EXPECT_NE(ReadFileText(dir.File("host/BrindleHost.log")).find("プロパティ更新"),
              std::string::npos);
    EXPECT_NE(ReadFileText(dir.File("view/BrindleView.log")).find("スライダBrightness値200"),
              std::string::npos);
    // Images captured from now on are brighter.
    size_t nNow = ClientImages().size();
    ASSERT_TRUE(WaitUntil([&] { return ClientImages().size() >= nNow + 2; }, kLimitMs, 50));
    EXPECT_GT(NewestMean(), fBefore + 10) << "before " << fBefore;

    // Closed and opened again, the dialog shows what the camera holds.
    ASSERT_TRUE(view.Input("property close\n"));
    ASSERT_TRUE(ViewSays("property closed\n"));
    EXPECT_NE(OpenDialog().find("property slider \"Brightness\" 0..255 at 200\n"),
              std::string::npos);

    // The server's own close reaches the client's dialog.
    ASSERT_TRUE(host.Input("property close\n"));
    ASSERT_TRUE(ViewSays("property closed\n"));
    EXPECT_NE(ReadFileText(dir.File("host/BrindleHost.log")).find("プロパティクローズ送信"),
              std::string::npos);

    // So does the server's end.
    ASSERT_FALSE(OpenDialog().empty());
    EXPECT_EQ(host.Stop(), 0);
    ASSERT_TRUE(ViewSays("property closed\n"));
    EXPECT_EQ(view.Stop(), 0);
}

TEST_F(PropertyE2eTest, BadLinesGetOneLineOnStandardErrorAndTheEndOfInputChangesNothing) {
    ASSERT_TRUE(view.Input("property slider Brightness 200\nproperty open x\nhello\n"));
    ASSERT_TRUE(ViewSays("no dialog is open"));
    ASSERT_TRUE(ViewSays("property open takes a camera number"));
    ASSERT_TRUE(ViewSays("unknown command: hello"));
    ASSERT_TRUE(host.Input("property open\n"));
    ASSERT_TRUE(WaitUntil([&] { return HostOutput().find("unknown command") != std::string::npos; },
                          kLimitMs, 20));
    // Standard input at its end: both go on serving and receiving.
    view.CloseInput();
    host.CloseInput();
    size_t nNow = ClientImages().size();
    ASSERT_TRUE(WaitUntil([&] { return ClientImages().size() >= nNow + 2; }, kLimitMs, 50));
    EXPECT_EQ(host.Stop(), 0);
    EXPECT_EQ(view.Stop(), 0);
}

} // namespace
} // namespace brindle::test
