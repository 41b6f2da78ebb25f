// Both programs, headless, relaying through a real WebDAV folder (lighttpd,
// Digest over TLS with the test CA): BrindleHost with its test camera and a
// password, BrindleView connected by the server's computer name alone. The
// computer names are lower case, as Linux host names mostly are.
#include "common/ini_file.h"
#include "common/ini_text.h"
#include "e2e/e2e_support.h"
#include "storage/lighttpd_fixture.h"
#include "storage/relay_proxy.h"
#include "support/file_text.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>

namespace brindle::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCamera = "testcam:0";
constexpr const char* kPassword = "letmein";
// Generous: TLS hand-shakes and Digest rounds on a loaded two-core machine.
constexpr int kLimitMs = 180000;

// "yyyymmdd/hhmmss" of the log line that holds `text`, as image paths
// begin: images named below it were saved before that line's second.
std::string LogTimeKey(const std::string& log, const std::string& text) {
    size_t at = log.find(text);
    if (at == std::string::npos)
        return {};
    size_t begin = log.rfind('\n', at);
    begin = begin == std::string::npos ? 0 : begin + 1;
    std::string stamp = log.substr(begin, 19); // "2026/03/02 10:09:30"
    if (stamp.size() < 19)
        return {};
    return stamp.substr(0, 4) + stamp.substr(5, 2) + stamp.substr(8, 2) + "/" +
           stamp.substr(11, 2) + stamp.substr(14, 2) + stamp.substr(17, 2);
}

class RelayE2eTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::string why = lighttpd.Start(); !why.empty())
            GTEST_SKIP() << why;
        fs::create_directories(lighttpd.Dir().File("root/digest/relay"));
        uri = "https://127.0.0.1:" + std::to_string(lighttpd.TlsPort()) + "/digest/relay/";
        trust = std::make_unique<ScopedEnv>("SSL_CERT_FILE", lighttpd.CaFile().c_str());
    }

    std::string HostDir(const std::string& name) { return dir.File("host-" + name); }
    std::string ViewDir() { return dir.File("view"); }
    std::string RelayDir() { return lighttpd.Dir().File("root/digest/relay/!Brindleshank!"); }

    // Runs one of the programs' account or password commands to its end.
    void RunCommand(const std::string& program, std::vector<std::string> args,
                    const std::string& input) {
        ChildProcess command;
        ASSERT_TRUE(command.Start(program, args, dir.File("command.out"), input));
        ASSERT_EQ(command.Wait(30000), 0) << ReadFileText(dir.File("command.out"));
    }

    // The account of the relay folder, polled every second.
    void SetAccount(const std::string& program, const std::string& folder, const std::string& ini) {
        RunCommand(program, {"--set-storage", uri, "--data-dir", folder},
                   std::string(LighttpdServer::kUser) + "\n" + LighttpdServer::kPassword + "\n");
        ASSERT_EQ(IniWriteKey(folder + "/" + ini, uri, "Interval", "1"), 0u);
        ASSERT_EQ(IniWriteKey(folder + "/" + ini, uri, "WaitInterval", "1"), 0u);
    }

    void PrepareHost(const std::string& name) {
        std::string folder = HostDir(name);
        fs::create_directories(folder);
        WriteFileText(folder + "/BrindleHost.ini",
                      "[Settings]\r\nWebdav=Yes\r\nPort=" + std::to_string(FreeLoopbackPort()) +
                          "\r\n[" + kCamera +
                          "]\r\nUse=Yes\r\nSend=Yes\r\nSave=Yes\r\nCycle=1\r\nTime=4\r\n");
        SetAccount(HostProgram(), folder, "BrindleHost.ini");
        RunCommand(HostProgram(), {"--set-password", "--data-dir", folder},
                   std::string(kPassword) + "\n");
    }

    void PrepareView() {
        fs::create_directories(ViewDir());
        SetAccount(ViewProgram(), ViewDir(), "BrindleView.ini");
        WriteFileText(dir.File("password"), std::string(kPassword) + "\n");
    }

    void StartHost(const std::string& name, ChildProcess& host) {
        ScopedEnv computer("COMPUTERNAME", name.c_str());
        ASSERT_TRUE(host.Start(
            HostProgram(),
            {"--headless", "--data-dir", HostDir(name), "--test-camera", "--listen", "127.0.0.1"},
            dir.File("host-" + name + ".out")));
    }

    void StartView(const std::vector<std::string>& servers) {
        ScopedEnv computer("COMPUTERNAME", "pc2");
        std::vector<std::string> args = {"--headless", "--data-dir", ViewDir(), "--password-file",
                                         dir.File("password")};
        for (const std::string& server : servers)
            args.insert(args.end(), {"--connect", server});
        ASSERT_TRUE(view.Start(ViewProgram(), args, dir.File("view.out")));
    }

    std::string CameraFolder(const std::string& host) {
        std::string name2;
        IniReadKey(HostDir(host) + "/BrindleHost.ini", kCamera, "Name2", name2);
        return name2;
    }
    std::map<std::string, std::string> ClientImages(const std::string& host) {
        return ImageFiles(ViewDir() + "/" + host + "/" + CameraFolder(host));
    }
    std::map<std::string, std::string> ServerImages(const std::string& host) {
        return ImageFiles(HostDir(host) + "/" + CameraFolder(host));
    }
    bool WaitForClientImages(const std::string& host, size_t n) {
        return WaitUntil(
            [&] { return !CameraFolder(host).empty() && ClientImages(host).size() >= n; }, kLimitMs,
            200);
    }

    // Every server image from the client's first to its last is on the
    // client, byte for byte; returns how many were compared.
    size_t ExpectSameImages(const std::string& host) {
        std::map<std::string, std::string> client = ClientImages(host);
        std::map<std::string, std::string> server = ServerImages(host);
        if (client.empty())
            return 0;
        const std::string& first = client.begin()->first;
        const std::string& last = client.rbegin()->first;
        size_t nCompared = 0;
        for (const auto& [name, bytes] : server) {
            if (name < first || name > last)
                continue;
            ++nCompared;
            auto it = client.find(name);
            EXPECT_NE(it, client.end()) << host << ": " << name << " did not arrive";
            if (it != client.end()) {
                EXPECT_TRUE(it->second == bytes) << host << ": " << name << " differs";
            }
        }
        EXPECT_EQ(nCompared, client.size()) << host;
        return nCompared;
    }

    // The relay files now in the folder (staged ones under "tmp/").
    std::vector<std::string> RelayFiles() {
        std::vector<std::string> files;
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(RelayDir(), ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
            if (it->is_regular_file())
                files.push_back(fs::relative(it->path(), RelayDir()).string());
        return files;
    }
    // Files the client wrote (a closing bracket after the sender).
    size_t ClientFilesLeft() {
        size_t n = 0;
        for (const std::string& f : RelayFiles())
            n += f.find(')') != std::string::npos || f.find('}') != std::string::npos ? 1 : 0;
        return n;
    }

    LighttpdServer lighttpd;
    std::unique_ptr<ScopedEnv> trust;
    std::string uri;
    TempDir dir;
    ChildProcess view;
};

TEST_F(RelayE2eTest, PasswordLogInCameraInformationAndEveryImageThroughTheFolder) {
    PrepareHost("host1");
    PrepareView();
    ChildProcess host;
    StartHost("host1", host);
    StartView({"host1"});
    ASSERT_TRUE(WaitForClientImages("host1", 4))
        << ReadFileText(dir.File("view.out")) << ReadFileText(ViewDir() + "/BrindleView.log");

    // Log-in with the password, and the camera information of the server.
    std::string viewLog = ReadFileText(ViewDir() + "/BrindleView.log");
    EXPECT_NE(viewLog.find("host1へ認証送信"), std::string::npos) << viewLog;
    std::string ini = ReadFileText(ViewDir() + "/BrindleView_host1.ini");
    std::string hostIni = ReadFileText(HostDir("host1") + "/BrindleHost.ini");
    EXPECT_EQ(IniTextGet(ini, "Camera", "PathList"), IniTextGet(hostIni, "Camera", "PathList2"));
    for (const char* key : {"Name", "Name2", "Cycle", "FormatList"})
        EXPECT_EQ(IniTextGet(ini, kCamera, key), IniTextGet(hostIni, kCamera, key)) << key;
    EXPECT_EQ(IniTextGet(ini, "Settings", "Webdav"), uri);

    // The client leaves first: it takes what the server sent until the
    // server has read its disconnect, which ends the server's side.
    EXPECT_EQ(view.Stop(60000), 0);
    std::string hostLog;
    EXPECT_TRUE(WaitUntil(
        [&] {
            hostLog = ReadFileText(HostDir("host1") + "/BrindleHost.log");
            return hostLog.find("PC2から切断受信") != std::string::npos;
        },
        kLimitMs, 200))
        << hostLog;
    EXPECT_EQ(host.Stop(60000), 0);
    // Every image the server saved while the client was logged in.
    std::map<std::string, std::string> client = ClientImages("host1");
    std::map<std::string, std::string> server = ServerImages("host1");
    ASSERT_FALSE(client.empty());
    std::string logIn = client.begin()->first;
    std::string loggedOut = LogTimeKey(hostLog, "PC2から切断受信");
    ASSERT_FALSE(loggedOut.empty());
    size_t nCompared = 0;
    for (const auto& [name, bytes] : server)
        if (name >= logIn && name < loggedOut) {
            ++nCompared;
            auto it = client.find(name);
            ASSERT_NE(it, client.end()) << name << " did not arrive";
            EXPECT_TRUE(it->second == bytes) << name << " differs";
        }
    EXPECT_GE(nCompared, 4u);
    EXPECT_TRUE(RelayFiles().empty()) << ::testing::PrintToString(RelayFiles());
    // The relay names are upper case, whatever the host names.
    EXPECT_NE(hostLog.find("PC2から接続受信"), std::string::npos) << hostLog;
}

TEST_F(RelayE2eTest, TwoServersOnOneClientAccount) {
    PrepareHost("host1");
    PrepareHost("host2");
    PrepareView();
    ChildProcess host1, host2;
    StartHost("host1", host1);
    StartHost("host2", host2);
    StartView({"host1", "host2"});
    ASSERT_TRUE(WaitForClientImages("host1", 2)) << ReadFileText(ViewDir() + "/BrindleView.log");
    ASSERT_TRUE(WaitForClientImages("host2", 2)) << ReadFileText(ViewDir() + "/BrindleView.log");
    EXPECT_EQ(view.Stop(60000), 0);
    EXPECT_EQ(host1.Stop(60000), 0);
    EXPECT_EQ(host2.Stop(60000), 0);
    EXPECT_GE(ExpectSameImages("host1"), 2u);
    EXPECT_GE(ExpectSameImages("host2"), 2u);
}

TEST_F(RelayE2eTest, StopSignalWhileImagesAreUploadedEndsBothCleanly) {
    PrepareHost("host1");
    PrepareView();
    ChildProcess host;
    StartHost("host1", host);
    StartView({"host1"});
    ASSERT_TRUE(WaitForClientImages("host1", 2));
    // Images go up every second now: the signal meets an upload or a poll.
    EXPECT_EQ(host.Stop(60000), 0) << ReadFileText(dir.File("host-host1.out"));
    EXPECT_EQ(view.Stop(60000), 0) << ReadFileText(dir.File("view.out"));
    for (const std::string& f : RelayFiles())
        EXPECT_EQ(f.rfind("tmp/", 0), std::string::npos) << "staged file left: " << f;
}

// A storage that stops answering in the middle of an image upload: the
// signal still ends the server within its grace time, the hanging request
// abandoned, and the client too.
TEST_F(RelayE2eTest, StopSignalDuringAnUploadThatHangsEndsBothPrograms) {
    std::atomic<bool> fHold{false}, fHeld{false}, fRelease{false};
    RelayProxy proxy(lighttpd.HttpPort(), [&](const std::string& method, const std::string& path) {
        if (fHold && method == "PUT" && path.find("HOST1%7BPC2") != std::string::npos &&
            !fHeld.exchange(true))
            WaitUntil([&] { return fRelease.load(); }, 120000, 20);
        return RelayProxy::Reply{};
    });
    uri = "http://127.0.0.1:" + std::to_string(proxy.Port()) + "/digest/relay/";
    PrepareHost("host1");
    PrepareView();
    ChildProcess host;
    StartHost("host1", host);
    StartView({"host1"});
    ASSERT_TRUE(WaitForClientImages("host1", 2)) << ReadFileText(ViewDir() + "/BrindleView.log");
    fHold = true;
    ASSERT_TRUE(WaitUntil([&] { return fHeld.load(); }, kLimitMs, 20));

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(host.Stop(60000), 0) << ReadFileText(dir.File("host-host1.out"));
    auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
            .count();
    // The grace time is 6 s; the held answer would have kept it 30 s more.
    EXPECT_LT(seconds, 25);
    fRelease = true;
    EXPECT_EQ(view.Stop(60000), 0) << ReadFileText(dir.File("view.out"));
}

// No usable account, or a computer name that cannot name relay files: a
// clear message and exit code 1, before anything is sent.
TEST_F(RelayE2eTest, UnusableAccountOrComputerNameEndsWithExitCode1) {
    struct Case {
        bool fAccount;
        const char* pcComputer;
        const char* pcServer;
        const char* pcMessage; // in the log
    } cases[] = {
        {false, "pc2", "host1",
         "サーバhost1のオンラインストレージ設定が不十分なため自動接続を中止"},
        {true, "pc 2", "host1", "コンピュータ名\"pc 2\"は使えません"},
        {true, "pc2", "host.example", "コンピュータ名\"host.example\"は使えません"},
    };
    for (const Case& c : cases) {
        fs::remove_all(ViewDir());
        fs::create_directories(ViewDir());
        if (c.fAccount)
            SetAccount(ViewProgram(), ViewDir(), "BrindleView.ini");
        ScopedEnv computer("COMPUTERNAME", c.pcComputer);
        ChildProcess refused;
        ASSERT_TRUE(refused.Start(ViewProgram(),
                                  {"--headless", "--data-dir", ViewDir(), "--connect", c.pcServer},
                                  dir.File("refused.out")));
        EXPECT_EQ(refused.Wait(30000), 1) << c.pcComputer;
        std::string said =
            ReadFileText(dir.File("refused.out")) + ReadFileText(ViewDir() + "/BrindleView.log");
        EXPECT_NE(said.find(c.pcMessage), std::string::npos) << said;
        EXPECT_TRUE(RelayFiles().empty());
    }
}

} // namespace
} // namespace brindle::test
