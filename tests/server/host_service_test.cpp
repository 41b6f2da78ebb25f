// BrindleHost under a service manager: the sd_notify exchange of a
// Type=notify unit, played by a datagram socket of the test's own, and the
// start that must fail once (not loop) when the data folder cannot be
// written.
#include "server/scripted_client.h"
#include "support/child_process.h"
#include "support/file_text.h"
#include "support/loopback.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace brindle::test {
namespace {

std::string HostProgram() {
    return std::string(BRINDLE_BINARY_DIR) + "/bin/BrindleHost";
}

// The service manager's end of NOTIFY_SOCKET: a datagram socket that also
// learns the sender's pid, as systemd does for NotifyAccess=main.
class NotifySocket {
  public:
    explicit NotifySocket(const std::string& path) : path_(path) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        path.copy(addr.sun_path, sizeof addr.sun_path - 1);
        int on = 1;
        fBound_ = fd_ >= 0 && ::setsockopt(fd_, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) == 0 &&
                  ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~NotifySocket() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool Bound() const { return fBound_; }

    // The next message within the limit; empty when none came.
    std::string Receive(int limitMs, pid_t& sender) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, limitMs) != 1)
            return {};
        char text[4096];
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
        iovec io{text, sizeof text};
        msghdr msg{};
        msg.msg_iov = &io;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        ssize_t n = ::recvmsg(fd_, &msg, 0);
        if (n <= 0)
            return {};
        sender = -1;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS) {
                ucred cred{};
                std::memcpy(&cred, CMSG_DATA(c), sizeof cred);
                sender = cred.pid;
            }
        }
        return std::string(text, static_cast<size_t>(n));
    }

  private:
    std::string path_;
    int fd_ = -1;
    bool fBound_ = false;
};

class HostServiceTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(manager.Bound()); }
    void StartServing(uint16_t nPort) {
        WriteFileText(dir.File("BrindleHost.ini"),
                      "[Settings]\r\nPort=" + std::to_string(nPort) +
                          "\r\n[testcam:0]\r\nUse=Yes\r\nSend=Yes\r\nCycle=1\r\n");
        ScopedEnv notify("NOTIFY_SOCKET", dir.File("notify").c_str());
        ASSERT_TRUE(host.Start(
            HostProgram(),
            {"--headless", "--data-dir", dir.Path(), "--test-camera", "--listen", "127.0.0.1"},
            dir.File("host.out"), "", dir.File("host.err")));
    }
    std::string Ready(uint16_t nPort) {
        return "READY=1\nSTATUS=listening on port " + std::to_string(nPort);
    }

    TempDir dir;
    NotifySocket manager{dir.File("notify")};
    ChildProcess host;
    pid_t sender = 0;
};

TEST_F(HostServiceTest, ReportsReadyOnceClientsCanConnectAndStoppingAtTheEnd) {
    uint16_t nPort = FreeLoopbackPort();
    StartServing(nPort);
    ASSERT_EQ(manager.Receive(30000, sender), Ready(nPort)) << ReadFileText(dir.File("host.err"));
    EXPECT_EQ(sender, host.Pid()); // NotifyAccess=main takes nobody else's word
    // Ready means ready: a client gets in at once and is served an image.
    EXPECT_TRUE(WaitAccepting(nPort, 0));
    ScriptedClient client;
    ASSERT_TRUE(client.Connect(nPort));
    ASSERT_EQ(client.Login("").nResult, 0u);
    std::vector<BatchRecord> records;
    ASSERT_TRUE(client.ReceiveBatch(records, 10000));
    ASSERT_FALSE(records.empty());
    client.Close();

    ::kill(host.Pid(), SIGTERM);
    EXPECT_EQ(manager.Receive(15000, sender), "STOPPING=1");
    EXPECT_EQ(host.Wait(15000), 0);
    EXPECT_EQ(manager.Receive(0, sender), ""); // nothing more, nothing twice
}

TEST_F(HostServiceTest, ReadinessWaitsWhileThePortIsTaken) {
    LoopbackListener taken;
    ASSERT_TRUE(taken.Valid());
    StartServing(taken.Port());
    // The failed bind is in the log; the server runs but is not ready.
    ASSERT_TRUE(WaitUntil(
        [&] {
            return ReadFileText(dir.File("BrindleHost.log")).find("ソケットバインドに失敗") !=
                   std::string::npos;
        },
        30000, 20));
    EXPECT_EQ(manager.Receive(200, sender), "");
    // Free again: the next try of the listener (every 5 s) opens it.
    taken.Close();
    EXPECT_EQ(manager.Receive(30000, sender), Ready(taken.Port()));
    EXPECT_TRUE(WaitAccepting(taken.Port(), 0));
    EXPECT_EQ(host.Stop(15000), 0);
}

TEST(HostService, UnwritableDataFolderEndsTheStartWithOneLineAndStatus73) {
    TempDir dir;
    WriteFileText(dir.File("plain-file"), "");
    struct Case {
        const char* what;
        std::string folder;
    };
    const Case cases[] = {
        {"a folder below a file cannot be made", dir.File("plain-file") + "/BrindleHost"},
        // Exists, but takes no files, whoever runs the test (root included).
        {"a folder that takes no files", "/proc/self"},
    };
    NotifySocket manager(dir.File("notify"));
    ASSERT_TRUE(manager.Bound());
    ScopedEnv notify("NOTIFY_SOCKET", dir.File("notify").c_str());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ChildProcess host;
        ASSERT_TRUE(host.Start(HostProgram(),
                               {"--headless", "--data-dir", c.folder, "--test-camera"},
                               dir.File("host.out"), "", dir.File("host.err")));
        EXPECT_EQ(host.Wait(15000), 73);
        std::string err = ReadFileText(dir.File("host.err"));
        EXPECT_EQ(err.rfind("BrindleHost: cannot write the data folder " + c.folder + " (", 0), 0u)
            << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        pid_t sender = 0;
        EXPECT_EQ(manager.Receive(0, sender), ""); // never ready
    }
}

} // namespace
} // namespace brindle::test
