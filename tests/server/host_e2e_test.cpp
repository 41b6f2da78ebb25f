// The BrindleHost program itself: a headless server with a test camera, a
// client session over loopback, and a clean end on SIGTERM.
#include "common/error_codes.h"
#include "common/ini_file.h"
#include "server/scripted_client.h"
#include "support/child_process.h"
#include "support/file_text.h"
#include "support/loopback.h"
#include "support/temp_dir.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace brindle::test {
namespace {

std::string HostProgram() {
    return std::string(BRINDLE_BINARY_DIR) + "/bin/BrindleHost";
}

class HostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        nPort = FreeLoopbackPort();
        WriteFileText(Ini(), "[Settings]\r\nPort=" + std::to_string(nPort) +
                                 "\r\n[testcam:0]\r\nUse=Yes\r\nSend=Yes\r\nSave=Yes\r\n"
                                 "Cycle=1\r\nTime=4\r\n");
    }
    std::string Ini() { return dir.File("BrindleHost.ini"); }
    bool StartHost(ChildProcess& host, const std::string& name = "host") {
        return host.Start(
            HostProgram(),
            {"--headless", "--data-dir", dir.Path(), "--test-camera", "--listen", "127.0.0.1"},
            dir.File(name + ".out"), "", dir.File(name + ".err"));
    }
    std::string Key(const char* section, const char* key) {
        std::string value;
        IniReadKey(Ini(), section, key, value);
        return value;
    }

    TempDir dir;
    uint16_t nPort = 0;
};

TEST_F(HostTest, PasswordSetFromStandardInputProtectsTheServer) {
    ChildProcess setter;
    ASSERT_TRUE(setter.Start(HostProgram(), {"--set-password", "--data-dir", dir.Path()},
                             dir.File("set.out"), "letmein\n", dir.File("set.err")));
    ASSERT_EQ(setter.Wait(10000), 0);
    EXPECT_NE(ReadFileText(dir.File("set.out")).find("Password stored in"), std::string::npos);
    EXPECT_EQ(Key("Settings", "Passwd").find("letmein"), std::string::npos);

    ChildProcess host;
    ASSERT_TRUE(StartHost(host));
    ASSERT_TRUE(WaitAccepting(nPort, 10000));
    ScriptedClient intruder;
    ASSERT_TRUE(intruder.Connect(nPort, "127.0.0.2"));
    EXPECT_EQ(intruder.Login("guess").nResult, ERR_AUTH_FAILED);
    ScriptedClient viewer;
    ASSERT_TRUE(viewer.Connect(nPort, "127.0.0.3"));
    LoginOutcome outcome = viewer.Login("letmein");
    EXPECT_TRUE(outcome.fChallenged);
    EXPECT_EQ(outcome.nResult, 0u);
    EXPECT_EQ(outcome.info.find("Passwd"), std::string::npos);
    EXPECT_NE(outcome.info.find("[testcam:0]"), std::string::npos);
    intruder.Close();
    viewer.Close();
    EXPECT_EQ(host.Stop(15000), 0);
}

TEST_F(HostTest, ClientReceivesImagesAndSigtermEndsTheServerCleanly) {
    ChildProcess host;
    ASSERT_TRUE(StartHost(host));
    ASSERT_TRUE(WaitAccepting(nPort, 10000));

    // A second copy on the same data folder steps aside at once.
    ChildProcess second;
    ASSERT_TRUE(StartHost(second, "second"));
    EXPECT_EQ(second.Wait(10000), 2);

    ScriptedClient client;
    ASSERT_TRUE(client.Connect(nPort));
    LoginOutcome outcome = client.Login("");
    ASSERT_EQ(outcome.nResult, 0u);
    std::vector<BatchRecord> records;
    ASSERT_TRUE(client.ReceiveBatch(records, 10000));
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0].nCamera, 1u);
    ASSERT_GT(records[0].jpeg.size(), 1000u);
    EXPECT_EQ(records[0].jpeg[0], 0xFF);
    EXPECT_EQ(records[0].jpeg[1], 0xD8);

    std::thread answer([&] {
        ReceivedPacket packet;
        if (client.ReceiveType(PT_DISCONNECT, packet, 10000))
            client.SendEmpty(PT_DISCONNECT);
    });
    auto start = std::chrono::steady_clock::now();
    int nExit = host.Stop(15000);
    auto elapsed = std::chrono::steady_clock::now() - start;
    answer.join();
    EXPECT_EQ(nExit, 0);
    EXPECT_LT(elapsed, std::chrono::seconds(5));

    EXPECT_EQ(ReadFileText(dir.File("host.out")), "");
    EXPECT_EQ(Key("Settings", "Port"), std::to_string(nPort));
    EXPECT_EQ(Key("testcam:0", "Use"), "Yes");
    EXPECT_EQ(Key("Camera", "PathList2"), "testcam:0|");
    std::string log = ReadFileText(dir.File("BrindleHost.log"));
    EXPECT_NE(log.find("サーバソケット作成"), std::string::npos);
    EXPECT_NE(log.find("127.0.0.1へ切断送信"), std::string::npos);
    EXPECT_NE(log.find("を破棄"), std::string::npos);
    EXPECT_FALSE(WaitAccepting(nPort, 1));
}

} // namespace
} // namespace brindle::test
