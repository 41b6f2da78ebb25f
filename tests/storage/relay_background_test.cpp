// The server's background check on a clock the test moves: a fetch that
// never ends is abandoned after 60 s in the fetch phase (less the time the
// computer slept), a new check thread takes over, and receives never wait
// for the stuck poll.
#include "storage/relay_background.h"

#include "scripted_http.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"

#include <gtest/gtest.h>

namespace brindle {
namespace {

class TestClock : public Clock {
  public:
    uint32_t Tick() const override { return tick_.load(); }
    SystemTime LocalNow() const override { return {}; }
    void Advance(uint32_t ms) { tick_ += ms; }

  private:
    std::atomic<uint32_t> tick_{100000};
};

const std::string kListing =
    "<?xml version=\"1.0\"?><D:multistatus xmlns:D=\"DAV:\"><D:response>"
    "<D:href>/r/%21Brindleshank%21/PC2%29HOST1.00000001</D:href><D:propstat><D:prop>"
    "<D:getcontentlength>40</D:getcontentlength></D:prop></D:propstat></D:response>"
    "</D:multistatus>";

TEST(RelayBackgroundTest, WatchdogReplacesACheckThreadStuckInAFetch) {
    std::atomic<int> nGets{0};
    test::ScriptedHttpServer storage([&](int fd, int) {
        std::string request = test::ReadUntil(fd, "\r\n\r\n");
        if (request.rfind("PROPFIND", 0) == 0) {
            if (request.find("</a:propfind>\r\n") == std::string::npos)
                test::ReadUntil(fd, "</a:propfind>\r\n");
            test::SendText(fd, "HTTP/1.1 207 Multi-Status\r\nContent-Length: " +
                                   std::to_string(kListing.size()) + "\r\n\r\n" + kListing);
            request = test::ReadUntil(fd, "\r\n\r\n");
        }
        if (request.rfind("GET", 0) == 0) {
            ++nGets;
            test::ReadUntil(fd, "never"); // holds the fetch until the client gives up
        }
        return true;
    });
    test::TempDir dir;
    auto account = std::make_shared<StorageAccount>();
    account->cSettingsFile = dir.File("BrindleHost.ini");
    account->cUri = "http://127.0.0.1:" + std::to_string(storage.Port()) + "/r/";
    account->cHost = "127.0.0.1";
    account->nPort = storage.Port();
    account->cPath = "/r/";
    account->nSsl = -2;
    account->nSetup = 7;
    TestClock clock;
    RelayWorkerOptions options;
    options.fServer = true;
    options.cComputerName = "host1";
    options.pClock = &clock;
    RelayWorker worker(account, options);
    ASSERT_EQ(worker.Start(), 0u);
    PacketConnection conn;
    auto peer = std::make_shared<RelayPeer>();
    peer->cName = "PC2";
    peer->fRunning = true;
    worker.Attach(conn, peer);

    RelayBackground background(worker, clock);
    background.Start();
    background.OnTimer();
    ASSERT_TRUE(test::WaitUntil([&] { return nGets.load() == 1; }));
    ASSERT_NE(worker.FetchStartTick(), 0u);

    std::vector<uint8_t> buffer(PACKET_BUFFER_SIZE);
    RelayReceiveInfo info;
    EXPECT_EQ(worker.Receive(conn, buffer, PACKET_LIMIT_SERVER, info), 0); // not blocked

    clock.Advance(30000);
    background.OnTimer();
    background.OnSuspend();
    clock.Advance(40000); // asleep: not counted
    background.OnTimer();
    background.OnResume();
    background.OnTimer(); // 30 s in the phase
    EXPECT_EQ(background.Restarts(), 0);
    EXPECT_TRUE(background.Busy());

    clock.Advance(30001);
    background.OnTimer();
    EXPECT_EQ(background.Restarts(), 1);
    EXPECT_FALSE(background.Busy());
    // The new thread polls again: the file left in the list is fetched anew.
    background.OnTimer();
    EXPECT_TRUE(test::WaitUntil([&] { return nGets.load() == 2; }));
    background.Stop();
}

// A listing of thousands of senders nobody knows, besides names that must
// never reach a request (encoded CR LF, NUL, "/", over-long names, bad
// sequences): at most 64 connections are asked for, and nothing is fetched
// for a sender without a connection.
TEST(RelayListingTest, ThousandsOfUnknownSendersAskForAtMost64Connections) {
    std::string listing = "<?xml version=\"1.0\"?><D:multistatus xmlns:D=\"DAV:\">";
    auto entry = [&](const std::string& name) {
        listing += "<D:response><D:href>/r/%21Brindleshank%21/" + name +
                   "</D:href><D:propstat><D:prop><D:getcontentlength>40</D:getcontentlength>"
                   "</D:prop></D:propstat></D:response>";
    };
    for (int i = 0; i < 3000; ++i)
        entry("PC" + std::to_string(i) + "%29HOST1.00000001");
    for (const char* hostile :
         {"PC%0D%0AX%29HOST1.00000001", "PC%00X%29HOST1.00000001", "PC%2FX%29HOST1.00000001",
          "PC%29HOST1.0000000G", "PC%29HOST1.000000001"})
        entry(hostile);
    entry(std::string(64, 'A') + "%29HOST1.00000001");
    listing += "</D:multistatus>";

    std::atomic<int> nRequests{0};
    std::atomic<int> nFetches{0};
    test::ScriptedHttpServer storage([&](int fd, int) {
        for (;;) {
            std::string request = test::ReadUntil(fd, "\r\n\r\n");
            if (request.empty())
                return true;
            ++nRequests;
            if (request.rfind("PROPFIND", 0) == 0) {
                if (request.find("</a:propfind>\r\n") == std::string::npos)
                    test::ReadUntil(fd, "</a:propfind>\r\n");
                test::SendText(fd, "HTTP/1.1 207 Multi-Status\r\nContent-Length: " +
                                       std::to_string(listing.size()) + "\r\n\r\n" + listing);
            } else {
                ++nFetches;
                test::SendText(fd, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
            }
        }
    });
    test::TempDir dir;
    auto account = std::make_shared<StorageAccount>();
    account->cSettingsFile = dir.File("BrindleHost.ini");
    account->cUri = "http://127.0.0.1:" + std::to_string(storage.Port()) + "/r/";
    account->cHost = "127.0.0.1";
    account->nPort = storage.Port();
    account->cPath = "/r/";
    account->nSsl = -2;
    account->nSetup = 7;
    std::vector<std::string> asked;
    RelayWorkerOptions options;
    options.fServer = true;
    options.cComputerName = "host1";
    options.onPeer = [&](const std::string& name) { asked.push_back(name); };
    RelayWorker worker(account, options);
    ASSERT_EQ(worker.Start(), 0u);
    PacketConnection none;
    worker.Poll(none);
    EXPECT_EQ(asked.size(), RELAY_PEERS_FROM_LISTING_MAX);
    for (const std::string& name : asked)
        EXPECT_EQ(name.find_first_not_of("PC0123456789"), std::string::npos) << name;
    EXPECT_EQ(nFetches.load(), 0);
    EXPECT_EQ(nRequests.load(), 1);
}

} // namespace
} // namespace brindle
