// A storage-linked server (port 0): the same ClientThread, with its packets
// going through the relay interface instead of a socket. The relay here is a
// pair of queues in memory; the test plays the server on the far side.
#include "client/client_test_support.h"
#include "client/connections/client_thread.h"
#include "client/connections/reception.h"
#include "client/connections/storage_link.h"
#include "common/ini_file.h"
#include "common/log.h"
#include "support/file_text.h"

#include <deque>
#include <filesystem>
#include <gtest/gtest.h>

namespace brindle {
namespace {

namespace fs = std::filesystem;
using test::WaitUntil;

// Packets in both directions, as the relay worker would queue them after
// fetching files from the storage.
class RelayPipe : public RelayTransport {
  public:
    struct Packet {
        std::vector<uint8_t> bytes;
        RelayReceiveInfo info;
    };

    uint32_t SendControl(PacketConnection& conn, std::span<const uint8_t> packet,
                         uint32_t nUncompressedLength) override {
        return Take(conn, packet, nUncompressedLength);
    }
    uint32_t SendImage(PacketConnection& conn, std::span<const uint8_t> packet,
                       uint32_t nUncompressedLength) override {
        return Take(conn, packet, nUncompressedLength);
    }
    int64_t Receive(PacketConnection& conn, std::vector<uint8_t>& buffer, size_t nCapacity,
                    RelayReceiveInfo& info) override {
        (void)nCapacity;
        std::lock_guard<std::mutex> guard(lock_);
        std::deque<Packet>& from = &conn == pServer ? toServer : toClient;
        if (from.empty())
            return 0;
        Packet p = std::move(from.front());
        from.pop_front();
        if (buffer.size() < p.bytes.size())
            buffer.resize(p.bytes.size());
        std::copy(p.bytes.begin(), p.bytes.end(), buffer.begin());
        info = p.info;
        return static_cast<int64_t>(p.bytes.size());
    }
    void Poll(PacketConnection& conn) override { (void)conn; }

    size_t WaitingForClient() {
        std::lock_guard<std::mutex> guard(lock_);
        return toClient.size();
    }

    PacketConnection* pServer = nullptr;

  private:
    uint32_t Take(PacketConnection& conn, std::span<const uint8_t> packet, uint32_t nUncompressed) {
        std::lock_guard<std::mutex> guard(lock_);
        Packet p{std::vector<uint8_t>(packet.begin(), packet.end()), {nUncompressed, ++nSequence_}};
        (&conn == pServer ? toClient : toServer).push_back(std::move(p));
        return 0;
    }

    std::mutex lock_;
    std::deque<Packet> toServer;
    std::deque<Packet> toClient;
    uint32_t nSequence_ = 0;
};

class FakeStorage : public StorageLink {
  public:
    std::string Name() const override { return "box"; }
    uint32_t IntervalSeconds() const override { return 5; }
    uint32_t SendNo() const override { return nSendNo.load(); }
    void AddInuse(int32_t nDelta) override { nInuse = std::max(0, nInuse.load() + nDelta); }
    RelayTransport* Worker() override { return fWorker ? &pipe : nullptr; }
    RelayTransport* RestartWorker() override {
        fWorker = true;
        ++nRestarts;
        return &pipe;
    }
    std::shared_ptr<RelayPeer> Attach(PacketConnection& conn,
                                      const std::string& cAddress) override {
        conn.pRelay = &pipe;
        peer = std::make_shared<RelayPeer>();
        peer->cName = cAddress;
        return peer;
    }
    void Detach(PacketConnection& conn) override { (void)conn; }
    void PollNow(PacketConnection& conn) override {
        (void)conn;
        ++nPolls;
    }
    void CloseWorker() override { fClosed = true; }

    RelayPipe pipe;
    std::shared_ptr<RelayPeer> peer;
    std::atomic<uint32_t> nSendNo{700};
    std::atomic<int32_t> nInuse{0};
    std::atomic<bool> fWorker{false};
    std::atomic<bool> fClosed{false};
    std::atomic<int> nRestarts{0};
    std::atomic<int> nPolls{0};
};

class StorageLinkTest : public test::ClientContextTest {
  protected:
    void SetUp() override {
        ClientContextTest::SetUp();
        server.fRelayed = true;
        server.pRelay = &storage.pipe;
        server.cPeerName = "server";
        storage.pipe.pServer = &server;
    }
    void TearDown() override {
        ClientContextTest::TearDown();
        ImageCipherRelease(server.imageCipher);
    }

    void Send(uint16_t nType, std::vector<uint8_t> payload) {
        std::vector<uint8_t> buffer(PACKET_HEADER_SIZE + payload.size() + PACKET_SEND_SPARE);
        std::copy(payload.begin(), payload.end(), buffer.begin() + PACKET_HEADER_SIZE);
        SendPacket(server, nType, buffer, static_cast<uint32_t>(payload.size()),
                   SEND_COMPRESS | SEND_ENCIPHER, false);
        // An idle link fetches only once its poll interval has passed: time
        // moves on until the client has taken the packet.
        ASSERT_TRUE(WaitUntil([&] {
            if (storage.pipe.WaitingForClient() == 0)
                return true;
            clock.Advance(250);
            return false;
        }));
    }

    // The client's next packet of a type; others are skipped.
    bool Expect(uint16_t nType, std::vector<uint8_t>* payload = nullptr) {
        std::vector<uint8_t> packet;
        return WaitUntil([&] {
            uint32_t nError = 0;
            return ReceivePacket(server, PacketSide::Server, packet, nError) > 0 &&
                   test::PacketIs(packet, nType, payload);
        });
    }

    std::vector<uint8_t> Auth(uint32_t nLinkStamp) {
        std::vector<uint8_t> payload(32, 7);
        for (int i = 0; i < 4; ++i)
            payload[24 + i] = static_cast<uint8_t>(nLinkStamp >> (8 * i));
        return payload;
    }

    FakeStorage storage;
    PacketConnection server;
};

TEST_F(StorageLinkTest, LogsInReceivesAndLetsTheRelayGo) {
    host.cAnswer = "pw";
    ServerParams* psp = CreateServerParams(ctx, "remote", 0);
    psp->pStorage = &storage;
    ASSERT_EQ(StartClientThread(ctx, *psp), 0u);
    ASSERT_TRUE(Expect(PT_CONNECT));
    EXPECT_EQ(storage.nRestarts.load(), 1); // the worker was started first
    EXPECT_EQ(storage.nInuse.load(), 1);
    EXPECT_GE(storage.nPolls.load(), 1);

    // A challenge carrying another link stamp is a leftover: dropped.
    Send(PT_AUTH, Auth(699));
    Send(PT_AUTH, Auth(700));
    std::vector<uint8_t> answer;
    ASSERT_TRUE(Expect(PT_AUTH, &answer)) << test::ReadFileText(dir.File("BrindleView.log"));
    EXPECT_EQ(host.nPasswordAsks.load(), 1);
    EXPECT_NE(test::ReadFileText(dir.File("BrindleView.log"))
                  .find("サーバremoteからの古い認証要求を破棄"),
              std::string::npos);

    std::string settings = test::ServerSettingsText({{"/dev/a", "Cam"}});
    Send(PT_CONNECT, test::PiecePayload(1, 1, test::BytesOf(settings), 12));
    ASSERT_TRUE(WaitUntil([&] { return psp->fOnline.load() == 1; }));
    // Online, the relay's files carry check values chained from the answer.
    ASSERT_NE(storage.peer, nullptr);
    EXPECT_TRUE(storage.peer->fLoggedIn);
    EXPECT_TRUE(storage.peer->fRunning);
    EXPECT_EQ(storage.peer->Password(), "pw");
    RelayCheckValue chain;
    std::copy(answer.begin(), answer.begin() + 16, chain.begin());
    EXPECT_EQ(storage.peer->Chain(), chain);
    EXPECT_NE(test::ReadFileText(psp->cServerIni).find("Webdav=box"), std::string::npos);

    std::vector<uint8_t> jpeg = test::TestJpeg(16, 16, 3);
    std::vector<uint8_t> set =
        test::ImageSetBytes({{test::FileTimeOf(2024, 2, 3, 4, 5, 6, 7), 1, jpeg, 1, 0}});
    Send(PT_IMAGE + 3, test::PiecePayload(1, 1, set, 20));
    ASSERT_TRUE(WaitUntil([&] { return host.nPictures.load() == 1; }));
    EXPECT_EQ(test::ReadFileText(dir.File("images/remote/Cam/20240203/040506-007.jpg")),
              std::string(jpeg.begin(), jpeg.end()));

    psp->fStop = 1;
    ASSERT_TRUE(Expect(PT_DISCONNECT));
    ASSERT_TRUE(WaitUntil([&] { return psp->dwThreadId.load() == 0; }));
    EXPECT_TRUE(storage.fClosed.load());
    EXPECT_FALSE(storage.peer->fRunning);
    EXPECT_FALSE(storage.peer->fLoggedIn);
    EXPECT_EQ(storage.nInuse.load(), 0);
}

} // namespace
} // namespace brindle
