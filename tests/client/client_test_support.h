// Helpers of the client tests: a server scripted packet by packet on a
// loopback socket, a program host that records what the connection thread
// hands over, a clock the test moves, and small builders of server content.
#pragma once

#include "client/connections/address.h"
#include "client/connections/client_context.h"
#include "client/connections/client_host.h"
#include "platform/clock.h"
#include "protocol/packet_codec.h"
#include "protocol/sleeper.h"
#include "support/file_text.h"
#include "support/loopback.h"
#include "support/system_time.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <gtest/gtest.h>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brindle::test {

// A clock whose tick the test sets; safe to read from other threads.
class TestClock : public Clock {
  public:
    uint32_t Tick() const override { return tick_.load(); }
    SystemTime LocalNow() const override { return LocalTimeNow(); }
    void Advance(uint32_t ms) { tick_ += ms; }

  private:
    std::atomic<uint32_t> tick_{1000};
};

// Pauses of 1 ms, so retries in tests do not wait for real.
class QuickSleeper : public Sleeper {
  public:
    void Sleep(uint32_t ms) const override;
};

// An injected network: a fixed interface table and neighbour table, host
// names from a map, and wake-up datagrams recorded instead of sent.
class FakeNetwork : public NetworkEnvironment {
  public:
    uint32_t LookupHost(const std::string& host, const std::atomic<int32_t>& fStop,
                        uint32_t& dwAddress) override;
    uint32_t InterfaceTable(std::vector<InterfaceAddress>& table) override;
    uint32_t EthernetAddress(uint32_t dwAddress, uint64_t& qwMacAddress) override;
    uint32_t SendBroadcast(uint32_t dwDestination, uint16_t nPort,
                           std::span<const uint8_t> datagram) override;

    std::vector<InterfaceAddress> interfaces;              // default: 127.0.0.1/8
    std::vector<std::pair<uint32_t, uint64_t>> neighbours; // address, Ethernet address
    int nMisses = 0; // the first nMisses neighbour look-ups find nothing
    std::vector<std::pair<std::string, uint32_t>> hosts; // name, address
    std::vector<std::string> lookups;                    // names looked up
    struct Datagram {
        uint32_t dwDestination;
        uint16_t nPort;
        std::vector<uint8_t> bytes;
    };
    std::vector<Datagram> sent;
    FakeNetwork();

  private:
    std::mutex lock_;
};

// Network byte order of a dotted address.
uint32_t Ip(const char* dotted);

// Records what the connection thread hands to the program.
class TestHost : public ClientHost {
  public:
    uint32_t AskPassword(ServerParams& psp, std::string& cPassword) override;
    void ShowMessage(const std::string& text, uint32_t nTimeoutMs) override;
    void SettingsTransferred(ServerParams& psp) override;
    void ShowLivePicture(ClientViewer& viewer, uint64_t nFileTime) override;

    std::atomic<int> nPasswordAsks{0};
    std::atomic<int> nTransfers{0};
    std::atomic<int> nPictures{0};
    std::string cAnswer;          // what the password dialog answers
    bool fCancelPassword = false; // the dialog is cancelled instead
    std::vector<std::string> Messages();
    std::vector<uint64_t> PictureTimes();

  private:
    std::mutex lock_;
    std::vector<std::string> messages_;
    std::vector<uint64_t> pictures_;
};

// A client context wired to the fakes above, with its data folder and save
// folder ("images") in a temporary folder and the log (BrindleView.log)
// written there. Fixtures that override SetUp or TearDown call these.
class ClientContextTest : public ::testing::Test {
  protected:
    void SetUp() override;
    // Stops the connection threads, then closes the log.
    void TearDown() override;
    std::string Log() const { return ReadFileText(dir.File("BrindleView.log")); }

    TempDir dir;
    TestHost host;
    TestClock clock;
    QuickSleeper sleeper;
    FakeNetwork network;
    ClientContext ctx;
};

// A server on a free loopback port that the test drives packet by packet.
class ScriptedServer {
  public:
    ScriptedServer();
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    uint16_t Port() const { return listener_.Port(); }
    // Waits for the client's connection (closing a previous one).
    bool Accept(int limitMs = 20000);
    // The next packet of the given type; others are skipped. False when the
    // client closed the link or the limit passed.
    bool Expect(uint16_t nType, std::vector<uint8_t>* payload = nullptr, int limitMs = 20000);
    // True once the client has closed the link (packets are dropped).
    bool WaitClosed(int limitMs = 20000);
    void Close();

    uint32_t Send(uint16_t nType, const std::vector<uint8_t>& payload);
    void SendResult(uint16_t nAnswered, uint32_t nCode);
    void SendAuth(const uint8_t challenge[16], uint64_t nStamp);
    // The settings file text in chunks of `chunk` bytes, numbered as given
    // (an empty list numbers them 1, 2, ...).
    void SendSettings(const std::string& text, size_t chunk, std::vector<int32_t> numbers = {});
    // An image set in pieces of `chunk` bytes, sent in the given order of
    // piece numbers (empty: in order).
    void SendImageSet(const std::vector<uint8_t>& set, size_t chunk,
                      std::vector<int32_t> order = {}, uint16_t nType = PT_IMAGE);

  private:
    // Pieces of `chunk` bytes of `bytes` as `nType` packets, in the order of
    // `numbers` (empty: 1, 2, ...); each a PiecePayload with three spare
    // bytes behind it.
    void SendPieces(uint16_t nType, std::span<const uint8_t> bytes, size_t chunk,
                    std::vector<int32_t> numbers, size_t nHeader);

    LoopbackListener listener_;
    PacketConnection conn_;
};

// True when a received packet has type nType; its payload then goes to
// `payload` when one is given.
bool PacketIs(const std::vector<uint8_t>& packet, uint16_t nType, std::vector<uint8_t>* payload);

// The bytes of a text, for payloads.
inline std::span<const uint8_t> BytesOf(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// Piece `number` of `nCount` as the server sends settings text (nHeader
// 12) and image sets (nHeader 20): the piece number, the count and the
// piece length, zeros up to nHeader bytes, then the piece.
std::vector<uint8_t> PiecePayload(int32_t number, size_t nCount, std::span<const uint8_t> piece,
                                  size_t nHeader);

// One image of an image set.
struct TestImage {
    uint64_t nFileTime = 0;
    int32_t nCameraId = 1;
    std::vector<uint8_t> jpeg;
    uint32_t nSent = 0;
    uint32_t nAbandoned = 0;
};
std::vector<uint8_t> ImageSetBytes(const std::vector<TestImage>& images);

// A real JPEG of a small generated picture.
std::vector<uint8_t> TestJpeg(int width, int height, uint8_t shade);

// A server settings file with one camera section per (section, Name2) pair.
std::string ServerSettingsText(const std::vector<std::pair<std::string, std::string>>& cameras);

} // namespace brindle::test
