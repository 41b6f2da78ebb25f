// Both programs, headless, over loopback: BrindleHost with its test camera
// and BrindleView connected to it, each with its data folder in a temporary
// folder.
#include "common/ini_file.h"
#include "common/ini_text.h"
#include "e2e/e2e_support.h"
#include "support/file_text.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace brindle::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCamera = "testcam:0";

class ClientE2eTest : public ::testing::Test {
  protected:
    void SetUp() override {
        nPort = FreeLoopbackPort();
        fs::create_directories(HostDir());
        fs::create_directories(ViewDir());
        WriteFileText(HostDir() + "/BrindleHost.ini",
                      "[Settings]\r\nPort=" + std::to_string(nPort) + "\r\n[" + kCamera +
                          "]\r\nUse=Yes\r\nSend=Yes\r\nSave=Yes\r\nCycle=1\r\nTime=4\r\n");
    }

    std::string HostDir() { return dir.File("host"); }
    std::string ViewDir() { return dir.File("view"); }
    std::string Server() { return "127.0.0.1:" + std::to_string(nPort); }

    void StartHost() {
        ASSERT_TRUE(host.Start(
            HostProgram(),
            {"--headless", "--data-dir", HostDir(), "--test-camera", "--listen", "127.0.0.1"},
            dir.File("host.out")));
        ASSERT_TRUE(WaitAccepting(nPort, 20000)) << ReadFileText(dir.File("host.out"));
    }

    void StartView(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--headless", "--data-dir", ViewDir(), "--connect",
                                         Server()};
        args.insert(args.end(), extra.begin(), extra.end());
        ASSERT_TRUE(view.Start(ViewProgram(), args, dir.File("view.out")));
    }

    // The camera's folder name as the server made it.
    std::string CameraFolder() {
        std::string name2;
        IniReadKey(HostDir() + "/BrindleHost.ini", kCamera, "Name2", name2);
        return name2;
    }

    std::map<std::string, std::string> ClientImages() {
        return ImageFiles(ViewDir() + "/127.0.0.1/" + CameraFolder());
    }
    std::map<std::string, std::string> ServerImages() {
        return ImageFiles(HostDir() + "/" + CameraFolder());
    }

    // Waits (as a safety net only) until the client holds `n` images.
    bool WaitForClientImages(size_t n, int limitMs = 60000) {
        return WaitUntil([&] { return ClientImages().size() >= n; }, limitMs, 100);
    }

    TempDir dir;
    uint16_t nPort = 0;
    ChildProcess host;
    ChildProcess view;
};

TEST_F(ClientE2eTest, EveryImageSavedWhileLoggedInArrivesByteForByte) {
    StartHost();
    StartView();
    ASSERT_TRUE(WaitForClientImages(4)) << ReadFileText(dir.File("view.out"));
    EXPECT_EQ(view.Stop(), 0);
    EXPECT_EQ(host.Stop(), 0);

    std::map<std::string, std::string> client = ClientImages();
    std::map<std::string, std::string> server = ServerImages();
    ASSERT_GE(client.size(), 4u);
    // Names sort by capture time: every server image between the client's
    // first and last is on the client, byte for byte.
    const std::string& first = client.begin()->first;
    const std::string& last = client.rbegin()->first;
    size_t nCompared = 0;
    for (const auto& [name, bytes] : server) {
        if (name < first || name > last)
            continue;
        ++nCompared;
        auto it = client.find(name);
        ASSERT_NE(it, client.end()) << name << " did not arrive";
        EXPECT_TRUE(it->second == bytes) << name << " differs";
    }
    EXPECT_EQ(nCompared, client.size());

    // The per-server settings file and the camera table match the server's.
    // A server on a port other than 12345 has the port in the file name.
    std::string ini =
        ReadFileText(ViewDir() + "/BrindleView_127.0.0.1_" + std::to_string(nPort) + ".ini");
    std::string hostIni = ReadFileText(HostDir() + "/BrindleHost.ini");
    EXPECT_EQ(IniTextGet(ini, "Camera", "PathList"), IniTextGet(hostIni, "Camera", "PathList2"));
    EXPECT_EQ(IniTextGet(ini, "Camera", "Count"), "1");
    for (const char* key : {"Name", "Name2", "Use", "Send", "Save", "Cycle", "FormatList"})
        EXPECT_EQ(IniTextGet(ini, kCamera, key), IniTextGet(hostIni, kCamera, key)) << key;
    // A key the server leaves out is written with its default.
    EXPECT_EQ(IniTextGet(ini, kCamera, "Format"),
              IniTextGet(hostIni, kCamera, "Format").value_or("0"));
    EXPECT_EQ(ini.find("Passwd"), std::string::npos);
    std::string log = ReadFileText(ViewDir() + "/BrindleView.log");
    EXPECT_NE(log.find("127.0.0.1へ接続送信"), std::string::npos);
    EXPECT_NE(log.find("127.0.0.1へ切断送信"), std::string::npos);
}

TEST_F(ClientE2eTest, ClientComesBackWhenTheServerIsStoppedAndStartedAgain) {
    StartHost();
    StartView();
    ASSERT_TRUE(WaitForClientImages(2));
    EXPECT_EQ(host.Stop(), 0);
    size_t nBefore = ClientImages().size();
    StartHost();
    ASSERT_TRUE(WaitForClientImages(nBefore + 2)) << ReadFileText(dir.File("view.out"));
    EXPECT_EQ(view.Stop(), 0);
    EXPECT_EQ(host.Stop(), 0);
    EXPECT_NE(ReadFileText(ViewDir() + "/BrindleView.log").find("127.0.0.1から切断"),
              std::string::npos);
}

TEST_F(ClientE2eTest, PasswordFromTheFileLogsIn) {
    ChildProcess setter;
    ASSERT_TRUE(setter.Start(HostProgram(), {"--set-password", "--data-dir", HostDir()},
                             dir.File("set.out"), "letmein\n"));
    ASSERT_EQ(setter.Wait(20000), 0) << ReadFileText(dir.File("set.out"));
    WriteFileText(dir.File("password"), "letmein\n");
    StartHost();
    StartView({"--password-file", dir.File("password")});
    ASSERT_TRUE(WaitForClientImages(1)) << ReadFileText(dir.File("view.out"));
    EXPECT_EQ(view.Stop(), 0);
    EXPECT_EQ(host.Stop(), 0);
    // The password is kept scrambled with the server's stamp.
    std::string entry;
    IniReadKey(ViewDir() + "/BrindleView.ini", "Server", "127.0.0.1", entry);
    EXPECT_EQ(entry.find("letmein"), std::string::npos);
    EXPECT_NE(entry.substr(entry.rfind('/')), "/0");
}

} // namespace
} // namespace brindle::test
