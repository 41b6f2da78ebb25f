// A relayed client: the same conversation with packets handed through a
// relay instead of a socket (an in-memory relay stands in for the storage).
#include "common/error_codes.h"
#include "common/little_endian.h"
#include "server/scripted_client.h"
#include "server/server_fixture.h"

#include <deque>
#include <gtest/gtest.h>

namespace brindle::test {
namespace {

// One direction of the relay: framed packets with their plain length.
struct Lane {
    std::mutex lock;
    std::deque<std::pair<std::vector<uint8_t>, uint32_t>> packets;
};

class MemoryRelay : public RelayTransport {
  public:
    MemoryRelay(Lane& out, Lane& in) : out_(out), in_(in) {}

    uint32_t SendControl(PacketConnection&, std::span<const uint8_t> packet,
                         uint32_t nPlain) override {
        return Push(packet, nPlain);
    }
    uint32_t SendImage(PacketConnection&, std::span<const uint8_t> packet,
                       uint32_t nPlain) override {
        return Push(packet, nPlain);
    }
    int64_t Receive(PacketConnection&, std::vector<uint8_t>& buffer, size_t nCapacity,
                    RelayReceiveInfo& info) override {
        std::lock_guard<std::mutex> lock(in_.lock);
        if (in_.packets.empty())
            return 0;
        auto [bytes, nPlain] = std::move(in_.packets.front());
        in_.packets.pop_front();
        info.nUncompressedLength = nPlain;
        info.nSequence = ++nSequence_;
        int64_t n = static_cast<int64_t>(bytes.size());
        if (bytes.size() >= nCapacity || bytes.size() > buffer.size())
            buffer.swap(bytes);
        else
            std::copy(bytes.begin(), bytes.end(), buffer.begin());
        return n;
    }
    void Poll(PacketConnection&) override {}

  private:
    uint32_t Push(std::span<const uint8_t> packet, uint32_t nPlain) {
        std::lock_guard<std::mutex> lock(out_.lock);
        out_.packets.emplace_back(std::vector<uint8_t>(packet.begin(), packet.end()), nPlain);
        return 0;
    }
    Lane& out_;
    Lane& in_;
    uint32_t nSequence_ = 0;
};

class RelayedClient {
  public:
    explicit RelayedClient(Lane& toServer, Lane& toClient) : relay_(toServer, toClient) {
        conn_.fRelayed = true;
        conn_.pRelay = &relay_;
        conn_.cPeerName = "server";
    }
    void Send(uint16_t nType, std::vector<uint8_t> payload = {}) {
        std::vector<uint8_t> buffer(16 + payload.size() + 32);
        std::copy(payload.begin(), payload.end(), buffer.begin() + 16);
        ASSERT_EQ(SendPacket(conn_, nType, buffer, uint32_t(payload.size()), SEND_ENCIPHER, false),
                  0u);
    }
    bool Receive(ReceivedPacket& packet) {
        bool fGot = WaitUntil([&] {
            uint32_t nError = 0;
            return ReceivePacket(conn_, PacketSide::Client, buffer_, nError) > 0;
        });
        if (!fGot)
            return false;
        PacketHeader header = PacketHeaderRead(buffer_.data());
        packet.nType = header.type;
        packet.payload.assign(buffer_.begin() + 16, buffer_.begin() + 16 + header.length);
        return true;
    }

  private:
    MemoryRelay relay_;
    PacketConnection conn_;
    std::vector<uint8_t> buffer_;
};

TEST(RelayedConnection, LogsInAfterDroppingStalePacketsAndSendsWholePieces) {
    ServerFixture server;
    server.context.nPacketMax = 1024;
    std::string ini = "[Settings]\r\n";
    for (int i = 0; i < 100; ++i)
        ini += "Key" + std::to_string(i) + "=" + std::string(20, char('a' + i % 26)) + "\r\n";
    WriteFileText(server.context.cSettingsFile, ini);
    Lane toServer;
    Lane toClient;
    MemoryRelay serverSide(toClient, toServer);
    RelayedClient client(toServer, toClient);
    // What the client left in the storage before the server looked: an old
    // attempt's echo and a second connect.
    client.Send(PT_CONNECT);
    client.Send(PT_ECHO, {1, 2, 3});
    client.Send(PT_CONNECT);
    ClientConnection* record = nullptr;
    ASSERT_EQ(server.manager.StartRelayed("relay-peer", &serverSide, RelayIntervals{1, 1}, &record),
              0u);
    ASSERT_NE(record, nullptr);

    ReceivedPacket packet;
    ASSERT_TRUE(client.Receive(packet));
    ASSERT_EQ(packet.nType, PT_CONNECT);
    EXPECT_EQ(LoadLe32(packet.payload.data() + 4), 1u); // one piece, however long
    uint32_t n = LoadLe32(packet.payload.data() + 8);
    EXPECT_EQ(std::string(packet.payload.begin() + 12, packet.payload.begin() + 12 + n), ini);
    ASSERT_TRUE(client.Receive(packet));
    ASSERT_EQ(packet.nType, PT_RESULT);
    EXPECT_EQ(LoadLe32(packet.payload.data() + 4), 0u);
    std::string log = server.LogText();
    EXPECT_NE(log.find("relay-peerからエコー受信破棄"), std::string::npos);

    server.Queue(0, std::vector<uint8_t>(5000, 7), 11);
    ASSERT_TRUE(client.Receive(packet));
    EXPECT_EQ(packet.nType, 100);
    EXPECT_EQ(LoadLe32(packet.payload.data() + 4), 1u);
    std::vector<BatchRecord> records;
    uint32_t nChunk = LoadLe32(packet.payload.data() + 8);
    ASSERT_TRUE(
        ParseImageBatch(std::span<const uint8_t>(packet.payload).subspan(20, nChunk), records));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].ftCapture, 11u);

    client.Send(PT_DISCONNECT);
    EXPECT_TRUE(WaitUntil([&] { return !record->Running(); }));
    EXPECT_EQ(server.shared.nConnectionStatus.load(), CONNECTION_DISCONNECTED);
}

} // namespace
} // namespace brindle::test
