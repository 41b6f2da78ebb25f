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

} // namespace
} // namespace brindle
