// The relay worker against a real WebDAV server (lighttpd on loopback,
// Digest over TLS): a server-side and a client-side worker exchange packets
// through one folder, as BrindleHost and BrindleView do.
#include "common/log.h"
#include "storage/account_form.h"
#include "storage/relay_worker.h"

#include "lighttpd_fixture.h"
#include "relay_proxy.h"
#include "support/file_text.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace brindle {
namespace {

using test::LighttpdServer;
namespace fs = std::filesystem;

std::vector<uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

// One side of a relayed link: its worker, its connection and the peer.
struct Side {
    Side(AccountPtr account, bool fServer, const std::string& computer, const std::string& peerName)
        : worker(account, Options(fServer, computer)) {
        peer->cName = peerName;
        peer->SetLogin("link pass", {});
        peer->fRunning = true;
        EXPECT_EQ(worker.Start(), 0u);
        worker.Attach(conn, peer);
    }
    static RelayWorkerOptions Options(bool fServer, const std::string& computer) {
        RelayWorkerOptions options;
        options.fServer = fServer;
        options.cComputerName = computer;
        options.fetchBudget = [] { return 600000u; };
        return options;
    }
    uint32_t Send(const std::string& packet, bool fImage) {
        std::vector<uint8_t> bytes = Bytes(packet);
        return fImage ? worker.SendImage(conn, bytes, 7) : worker.SendControl(conn, bytes, 7);
    }
    // Every packet a poll brought, in the order Receive hands them out.
    std::vector<std::string> PollAll() {
        worker.Poll(conn);
        std::vector<std::string> got;
        for (;;) {
            std::vector<uint8_t> buffer(PACKET_BUFFER_SIZE);
            RelayReceiveInfo info;
            int64_t n = worker.Receive(conn, buffer, PACKET_LIMIT_SERVER, info);
            if (n <= 0)
                return got;
            got.emplace_back(buffer.begin(), buffer.begin() + n);
        }
    }

    RelayWorker worker;
    PacketConnection conn;
    std::shared_ptr<RelayPeer> peer = std::make_shared<RelayPeer>();
};

class RelayWorkerTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        server_ = new LighttpdServer;
        skip_ = server_->Start();
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override {
        if (!skip_.empty())
            GTEST_SKIP() << skip_;
        folder_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(server_->Dir().File("root/digest/" + folder_));
    }

    // An account of its own settings file, as each program has. nProxy:
    // plain HTTP through a scripted proxy on that port.
    AccountPtr Account(AccountStore& store, uint16_t nProxy = 0) {
        AccountForm form;
        std::string base = "/digest/" + folder_ + "/";
        form.cUri = nProxy ? "http://127.0.0.1:" + std::to_string(nProxy) + base
                           : "https://127.0.0.1:" + std::to_string(server_->TlsPort()) + base;
        form.nKind = 2;
        form.cUser = LighttpdServer::kUser;
        form.cPasswd = form.cPasswdAgain = LighttpdServer::kPassword;
        AccountPtr account;
        EXPECT_EQ(SaveAccountForm(store, form, account), 0u);
        return account;
    }
    std::string RelayDir(const std::string& sub = "") const {
        return server_->Dir().File("root/digest/" + folder_ + "/!Brindleshank!" + sub);
    }
    size_t FilesIn(const std::string& dir) const {
        size_t n = 0;
        for (const auto& e : fs::directory_iterator(dir))
            n += e.is_regular_file() ? 1 : 0;
        return n;
    }

    static LighttpdServer* server_;
    static std::string skip_;
    test::ScopedEnv trust_{"SSL_CERT_FILE", server_ ? server_->CaFile().c_str() : ""};
    test::TempDir data_;
    AccountStore hostStore_{data_.File("BrindleHost.ini")};
    AccountStore viewStore_{data_.File("BrindleView.ini")};
    std::string folder_;
};

LighttpdServer* RelayWorkerTest::server_ = nullptr;
std::string RelayWorkerTest::skip_;

TEST_F(RelayWorkerTest, PacketsBothWaysControlFirstAndTheFolderEndsEmpty) {
    Side host(Account(hostStore_), true, "host1", "PC2");
    Side view(Account(viewStore_), false, "pc2", "HOST1");
    EXPECT_EQ(host.worker.ComputerName(), "HOST1");

    ASSERT_EQ(view.Send("login request", false), 0u);
    EXPECT_EQ(host.PollAll(), std::vector<std::string>{"login request"});

    ASSERT_EQ(host.Send("image 1", true), 0u);
    ASSERT_EQ(host.Send("image 2", true), 0u);
    ASSERT_EQ(host.Send("camera information", false), 0u);
    EXPECT_EQ(view.PollAll(),
              (std::vector<std::string>{"camera information", "image 1", "image 2"}));
    EXPECT_EQ(host.worker.Account().nSendNo, 3u);
    EXPECT_EQ(host.worker.Account().nSetup & 6, 6u);

    // Logged in with a password: every client file carries the next check
    // value of the chain, which the server follows.
    host.peer->fLoggedIn = view.peer->fLoggedIn = true;
    ASSERT_EQ(view.Send("checked 1", false), 0u);
    ASSERT_EQ(view.Send("checked 2", false), 0u);
    EXPECT_EQ(host.PollAll(), (std::vector<std::string>{"checked 1", "checked 2"}));
    EXPECT_FALSE(host.peer->fStopRequest);
    EXPECT_EQ(host.peer->Chain(), view.peer->Chain());

    // A file whose check value does not follow: stop request, removed all the same.
    view.peer->SetChain(RelayCheckValue{1});
    ASSERT_EQ(view.Send("forged", false), 0u);
    EXPECT_TRUE(host.PollAll().empty());
    EXPECT_TRUE(host.peer->fStopRequest);

    EXPECT_EQ(FilesIn(RelayDir()), 0u);
    EXPECT_EQ(FilesIn(RelayDir("/tmp")), 0u);
}

TEST_F(RelayWorkerTest, CheckedFileBeforeLoginIsDroppedAndPlainOneAfterLoginStops) {
    Side host(Account(hostStore_), true, "HOST1", "PC2");
    Side view(Account(viewStore_), false, "PC2", "HOST1");
    view.peer->fLoggedIn = true; // client online, server not yet logged in
    ASSERT_EQ(view.Send("early", false), 0u);
    EXPECT_TRUE(host.PollAll().empty());
    EXPECT_FALSE(host.peer->fStopRequest);
    EXPECT_EQ(FilesIn(RelayDir()), 0u);

    view.peer->fLoggedIn = false;
    host.peer->fLoggedIn = true;
    ASSERT_EQ(view.Send("unchecked", false), 0u);
    EXPECT_TRUE(host.PollAll().empty());
    EXPECT_TRUE(host.peer->fStopRequest);
}

TEST_F(RelayWorkerTest, AnUnreadFileOfTheSameNameIsKeptAndBothArrive) {
    Side host(Account(hostStore_), true, "HOST1", "PC2");
    Side view(Account(viewStore_), false, "PC2", "HOST1");
    ASSERT_EQ(host.Send("first", false), 0u); // makes the folders
    EXPECT_EQ(view.PollAll(), std::vector<std::string>{"first"});

    // A file left with the name the next upload takes (a SendNo that went
    // back, or another computer of the same name).
    std::string unread = std::string("\x07\0\0\0", 4) + "unread";
    test::WriteFileText(RelayDir("/HOST1(PC2.00000001"), unread);
    ASSERT_EQ(host.Send("second", false), 0u);
    EXPECT_EQ(host.worker.Account().nSendNo, 3u); // one step for the clash, one for the upload
    EXPECT_EQ(view.PollAll(), (std::vector<std::string>{"unread", "second"}));
    EXPECT_EQ(FilesIn(RelayDir()), 0u);
    EXPECT_EQ(FilesIn(RelayDir("/tmp")), 0u);
}

TEST_F(RelayWorkerTest, ListingsPickOnlyWellFormedFilesForThisProgram) {
    Side view(Account(viewStore_), false, "PC2", "HOST1");
    Side host(Account(hostStore_), true, "HOST1", "PC2");
    ASSERT_EQ(host.Send("real", false), 0u);
    std::string body = std::string("\x07\0\0\0", 4) + "x";
    for (const char* name :
         {"HOST1(PC2.0000001A.err", "HOST1(PC3.00000002", "host1(PC2.00000003", "HOST1(PC2.0000004",
          "HOST1(PC2.00000005", "OTHER(PC2.00000006", "HOST1%0A(PC2.00000007"})
        test::WriteFileText(RelayDir(std::string("/") + name), body);
    test::WriteFileText(RelayDir("/HOST1(PC2.00000005"), "tiny"); // length 5 or less
    EXPECT_EQ(view.PollAll(), std::vector<std::string>{"real"});
    // Only the file of a known, running peer was fetched; the rest stay.
    EXPECT_EQ(FilesIn(RelayDir()), 7u);
}

TEST_F(RelayWorkerTest, ServerAsksForAConnectionForAnUnknownSender) {
    std::vector<std::string> asked;
    RelayWorkerOptions options = Side::Options(true, "HOST1");
    options.onPeer = [&](const std::string& name) { asked.push_back(name); };
    RelayWorker host(Account(hostStore_), options);
    ASSERT_EQ(host.Start(), 0u);
    Side view(Account(viewStore_), false, "PC7", "HOST1");
    ASSERT_EQ(view.Send("hello", false), 0u);
    PacketConnection none;
    host.Poll(none);
    EXPECT_EQ(asked, std::vector<std::string>{"PC7"});
    EXPECT_EQ(FilesIn(RelayDir()), 1u); // kept until its connection runs
}

// Client: the files of a server whose thread has stopped stay in the folder,
// also when a listing from before the stop still names them.
TEST_F(RelayWorkerTest, FilesOfAStoppedServerEntryStayInTheFolder) {
    Side host(Account(hostStore_), true, "HOST1", "PC2");
    std::atomic<uint32_t> nBudget{0};
    RelayWorkerOptions options = Side::Options(false, "PC2");
    options.fetchBudget = [&] { return nBudget.load(); };
    RelayWorker view(Account(viewStore_), options);
    ASSERT_EQ(view.Start(), 0u);
    auto entry = std::make_shared<RelayPeer>();
    entry->cName = "HOST1";
    entry->fRunning = true;
    PacketConnection conn;
    view.Attach(conn, entry);
    ASSERT_EQ(host.Send("one", false), 0u);
    ASSERT_EQ(host.Send("two", false), 0u);

    view.Poll(conn); // listed, nothing fetched within a budget of 0
    entry->fRunning = false;
    nBudget = 600000;
    view.Poll(conn); // the listed entries of the stopped thread are dropped
    view.Poll(conn); // a new listing skips them
    EXPECT_EQ(view.QueuedCount(), 0u);
    EXPECT_EQ(FilesIn(RelayDir()), 2u);

    entry->fRunning = true;
    view.Poll(conn);
    EXPECT_EQ(view.QueuedCount(), 2u);
    EXPECT_EQ(FilesIn(RelayDir()), 0u);
}

// "Debug" bit value 2: one line per upload, listed file, fetch and removal.
TEST_F(RelayWorkerTest, DetailLinesFollowEveryStep) {
    test::TempDir logDir;
    LogOpen(logDir.File("relay.log"));
    g_nDebug = DEBUG_RELAY_DETAIL;
    Side host(Account(hostStore_), true, "HOST1", "PC2");
    Side view(Account(viewStore_), false, "PC2", "HOST1");
    ASSERT_EQ(host.Send("image", true), 0u);
    EXPECT_EQ(view.PollAll(), std::vector<std::string>{"image"});
    g_nDebug = 0;
    LogClose();
    std::string log = test::ReadFileText(logDir.File("relay.log"));
    std::string folder = "127.0.0.1/digest/" + folder_ + "/%21Brindleshank%21";
    for (std::string line : {"MOVE " + folder + "/HOST1%7BPC2.00000000 ",
                             std::string("PROPFIND #0 HOST1{PC2.00000000"),
                             "GET " + folder + "/HOST1%7BPC2.00000000 length=9 ",
                             "DELETE " + folder + "/HOST1%7BPC2.00000000 response=20"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
}

using test::RelayProxy;

// Counts requests of one method on relay files (not folders).
int Count(const std::vector<std::string>& seen, const std::string& method) {
    int n = 0;
    for (const std::string& s : seen)
        n +=
            s.rfind(method + " ", 0) == 0 && s.find("%21/") != std::string::npos && s.back() != '/';
    return n;
}

TEST_F(RelayWorkerTest, FetchAnsweredWithErrorsKeepsTheFileUntilItArrives) {
    std::atomic<int> nGets{0};
    RelayProxy proxy(server_->HttpPort(), [&](const std::string& method, const std::string&) {
        if (method == "GET") {
            int n = nGets++;
            if (n == 0)
                return RelayProxy::Status(503);
            if (n == 1)
                return RelayProxy::Status(401); // an expired nonce, say
        }
        return RelayProxy::Reply{};
    });
    Side host(Account(hostStore_, proxy.Port()), true, "HOST1", "PC2");
    Side view(Account(viewStore_, proxy.Port()), false, "PC2", "HOST1");
    ASSERT_EQ(host.Send("kept", false), 0u);
    EXPECT_TRUE(view.PollAll().empty());
    EXPECT_TRUE(view.PollAll().empty());
    EXPECT_EQ(Count(proxy.Seen(), "DELETE"), 0);
    EXPECT_EQ(FilesIn(RelayDir()), 1u);
    EXPECT_EQ(view.PollAll(), std::vector<std::string>{"kept"});
    EXPECT_EQ(FilesIn(RelayDir()), 0u);
}

TEST_F(RelayWorkerTest, FailedRemovalNeitherDuplicatesNorBreaksTheChain) {
    std::atomic<int> nDeletes{0};
    RelayProxy proxy(server_->HttpPort(), [&](const std::string& method, const std::string& path) {
        if (method == "DELETE" && path.find("%29") != std::string::npos && nDeletes++ == 0)
            return RelayProxy::Status(500);
        return RelayProxy::Reply{};
    });
    Side host(Account(hostStore_, proxy.Port()), true, "HOST1", "PC2");
    Side view(Account(viewStore_, proxy.Port()), false, "PC2", "HOST1");
    host.peer->fLoggedIn = view.peer->fLoggedIn = true;
    ASSERT_EQ(view.Send("a", false), 0u);
    EXPECT_EQ(host.PollAll(), std::vector<std::string>{"a"});
    EXPECT_EQ(FilesIn(RelayDir()), 1u);
    EXPECT_TRUE(host.PollAll().empty()); // fetched again, removed, not queued twice
    EXPECT_EQ(FilesIn(RelayDir()), 0u);
    ASSERT_EQ(view.Send("b", false), 0u);
    EXPECT_EQ(host.PollAll(), std::vector<std::string>{"b"});
    EXPECT_FALSE(host.peer->fStopRequest);
}

TEST_F(RelayWorkerTest, WithoutMoveUploadsGoStraightToTheFinalName) {
    RelayProxy proxy(server_->HttpPort(), [&](const std::string& method, const std::string&) {
        return method == "MOVE" ? RelayProxy::Status(501) : RelayProxy::Reply{};
    });
    Side host(Account(hostStore_, proxy.Port()), true, "HOST1", "PC2");
    Side view(Account(viewStore_, proxy.Port()), false, "PC2", "HOST1");
    EXPECT_EQ(host.Send("packet x", false), ERR_HTTP_STATUS);
    EXPECT_EQ(FilesIn(RelayDir("/tmp")), 0u); // the staged file was removed
    ASSERT_EQ(host.Send("packet x", false), 0u);
    EXPECT_EQ(Count(proxy.Seen(), "PUT"), 2);
    EXPECT_EQ(proxy.Seen().back(),
              "PUT /digest/" + folder_ + "/%21Brindleshank%21/HOST1%28PC2.00000000");
    // An unread file with the next name is not replaced either.
    test::WriteFileText(RelayDir("/HOST1(PC2.00000001"), std::string("\x07\0\0\0", 4) + "unread");
    EXPECT_EQ(host.Send("packet y", false), 0u);
    EXPECT_EQ(host.worker.Account().nSendNo, 3u);
    EXPECT_EQ(view.PollAll(), (std::vector<std::string>{"packet x", "unread", "packet y"}));
}

TEST_F(RelayWorkerTest, AFileCutThreeTimesIsMovedAsideAndLaterFilesFlow) {
    std::atomic<int> nCuts{0};
    RelayProxy proxy(server_->HttpPort(), [&](const std::string& method, const std::string& path) {
        if (method == "GET" && path.find(".00000000") != std::string::npos && nCuts < 3) {
            ++nCuts;
            return RelayProxy::Reply{RelayProxy::Reply::Close,
                                     "HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\nabc"};
        }
        return RelayProxy::Reply{};
    });
    Side host(Account(hostStore_, proxy.Port()), true, "HOST1", "PC2");
    Side view(Account(viewStore_, proxy.Port()), false, "PC2", "HOST1");
    ASSERT_EQ(host.Send("broken", false), 0u);
    ASSERT_EQ(host.Send("next", false), 0u);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(view.PollAll().empty()) << i;
    EXPECT_TRUE(fs::exists(RelayDir("/HOST1(PC2.00000000.err")));
    EXPECT_EQ(view.PollAll(), std::vector<std::string>{"next"});
    EXPECT_EQ(FilesIn(RelayDir()), 1u); // only the .err file
}

// A clock the proxy's thread moves while the worker reads it.
class SteppedClock : public Clock {
  public:
    uint32_t Tick() const override { return tick_.load(); }
    SystemTime LocalNow() const override { return {}; }
    void Set(uint32_t tick) { tick_ = tick; }
    void Advance(uint32_t ms) { tick_ += ms; }

  private:
    std::atomic<uint32_t> tick_{1};
};

// The server's timed polls: nothing in the first 30 s after boot; later,
// once 49 s of a fetch phase have passed, no request goes out, a removal
// included. Each step of the clock stays inside the limit of the request
// it happens in.
TEST_F(RelayWorkerTest, TimedPollsKeepToTheBootQuietAndThe49SecondPhase) {
    SteppedClock clock;
    clock.Set(RELAY_STARTUP_QUIET_MS - 1);
    std::atomic<int> nGets{0};
    RelayProxy proxy(server_->HttpPort(), [&](const std::string& method, const std::string&) {
        if (method == "GET") {
            int n = nGets++;
            clock.Advance(n == 0 ? 25000 : n == 1 ? 24500 : 0);
        }
        return RelayProxy::Reply{};
    });
    RelayWorkerOptions options = Side::Options(true, "HOST1");
    options.pClock = &clock;
    RelayWorker host(Account(hostStore_, proxy.Port()), options);
    ASSERT_EQ(host.Start(), 0u);
    auto peer = std::make_shared<RelayPeer>();
    peer->cName = "PC2";
    peer->fRunning = true;
    PacketConnection conn;
    host.Attach(conn, peer);
    Side view(Account(viewStore_, proxy.Port()), false, "PC2", "HOST1");
    for (const char* packet : {"one", "two", "three"})
        ASSERT_EQ(view.Send(packet, false), 0u);
    size_t nBefore = proxy.Seen().size();

    host.TimedPoll();
    EXPECT_EQ(proxy.Seen().size(), nBefore);

    clock.Set(RELAY_STARTUP_QUIET_MS);
    host.TimedPoll();
    // "one" fetched and removed at 25 s; "two" fetched at 49.5 s, too late
    // for its removal; "three" waits.
    EXPECT_EQ(nGets.load(), 2);
    EXPECT_EQ(Count(proxy.Seen(), "DELETE"), 1);
    EXPECT_EQ(host.QueuedCount(), 2u);
    EXPECT_EQ(FilesIn(RelayDir()), 2u);

    host.TimedPoll(); // "two" again: removed, not queued twice; then "three"
    EXPECT_EQ(host.QueuedCount(), 3u);
    EXPECT_EQ(FilesIn(RelayDir()), 0u);
}

TEST(RelayWorkerStart, UnusableComputerNamesAreRefused) {
    auto account = std::make_shared<StorageAccount>();
    for (const char* name : {"", "pc.local", "naïve", "a b"}) {
        RelayWorkerOptions options;
        options.cComputerName = name;
        RelayWorker worker(account, options);
        EXPECT_EQ(worker.Start(), ERR_RELAY_NAME) << name;
    }
}

} // namespace
} // namespace brindle
