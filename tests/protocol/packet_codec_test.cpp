#include "common/error_codes.h"
#include "common/log.h"
#include "protocol/packet_codec.h"

#include "protocol_test_util.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <thread>

namespace brindle {
namespace {

using test::PayloadOf;
using test::SendBuffer;
using test::SocketPair;

// Two ends of one direct link: `sender` writes on a, `receiver` reads on b.
struct DirectLink {
    explicit DirectLink(bool fTcp = false) : sockets(fTcp) {
        sender.nSocket = sockets.a();
        sender.cPeerName = "client";
        sender.pClock = &clock;
        receiver.nSocket = sockets.b();
        receiver.cPeerName = "server";
    }
    SocketPair sockets;
    ManualClock clock;
    PacketConnection sender;
    PacketConnection receiver;
};

TEST(Crc16X25, CheckValue) {
    const char text[] = "123456789";
    EXPECT_EQ(Crc16X25(reinterpret_cast<const uint8_t*>(text), 9), 0x906E);
}

// The checksum as the catalogue defines it, one bit at a time.
uint16_t BitwiseCrc(const std::vector<uint8_t>& bytes) {
    uint16_t reg = 0xFFFF;
    for (uint8_t b : bytes) {
        reg ^= b;
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 1) ? static_cast<uint16_t>((reg >> 1) ^ 0x8408) : (reg >> 1);
    }
    return static_cast<uint16_t>(~reg);
}

TEST(Crc16X25, EightBytesAtATimeMatchesTheBitwiseDefinition) {
    for (size_t n = 0; n < 70; ++n) {
        std::vector<uint8_t> bytes = test::NoiseBytes(n, static_cast<uint32_t>(n));
        ASSERT_EQ(Crc16X25(bytes.data(), n), BitwiseCrc(bytes)) << n;
    }
    // Split updates continue the same register.
    std::vector<uint8_t> bytes = test::NoiseBytes(100);
    uint16_t reg = Crc16X25Update(CRC16_X25_INIT, bytes.data(), 13);
    reg = Crc16X25Update(reg, bytes.data() + 13, 87);
    EXPECT_EQ(static_cast<uint16_t>(~reg), BitwiseCrc(bytes));
}

TEST(PacketTypeName, DisplayNames) {
    const std::pair<uint32_t, const char*> cases[] = {
        {0, "結果"},   {1, "エコー"}, {2, "接続"},       {3, "認証"},      {4, "MAC"},
        {5, "切断"},   {6, "要求"},   {7, "プロパティ"}, {8, "未定義"},    {99, "未定義"},
        {100, "画像"}, {108, "画像"}, {109, "未定義"},   {65535, "未定義"}};
    for (const auto& [type, name] : cases)
        EXPECT_STREQ(PacketTypeName(type), name) << type;
}

// The salt index is the tick count in 512 ms steps, modulo 64.
TEST(SendPacket, DisconnectHeaderIsByteExact) {
    struct Case {
        uint32_t tick;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {0, {0x51, 0x42, 0x01, 0x02, 0, 0, 0, 0, 0x05, 0x00, 0x72, 0xC6, 0x02, 0, 0, 0}},
        {64u << 9, {0x51, 0x42, 0x01, 0x02, 0, 0, 0, 0, 0x05, 0x00, 0x72, 0xC6, 0x02, 0, 0, 0}},
        {5u << 9, {0x51, 0x42, 0x01, 0x02, 0, 0, 0, 0, 0x05, 0x00, 0x64, 0x13, 0x52, 0, 0, 0}},
        {(5u << 9) + 511,
         {0x51, 0x42, 0x01, 0x02, 0, 0, 0, 0, 0x05, 0x00, 0x64, 0x13, 0x52, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        DirectLink link;
        link.clock.SetTick(c.tick);
        std::vector<uint8_t> buffer = SendBuffer({});
        ASSERT_EQ(SendPacket(link.sender, PT_DISCONNECT, buffer, 0, SEND_ENCIPHER, false), 0u);
        EXPECT_EQ(test::ReadExactly(link.sockets.b(), 16), c.bytes) << c.tick;
    }
}

TEST(Packets, ControlPacketsRoundTripEnciphered) {
    DirectLink link;
    link.clock.SetTick(37u << 9);
    std::vector<uint8_t> payload = test::NoiseBytes(300);
    std::vector<uint8_t> buffer = SendBuffer(payload);
    ASSERT_EQ(SendPacket(link.sender, PT_ECHO, buffer, 300, SEND_ENCIPHER, false), 0u);

    std::vector<uint8_t> packet;
    uint32_t err = 0;
    ASSERT_EQ(ReceivePacket(link.receiver, PacketSide::Server, packet, err), 316);
    PacketHeader header = PacketHeaderRead(packet.data());
    EXPECT_EQ(header.type, PT_ECHO);
    EXPECT_EQ(header.flags, PF_ENCIPHERED | (37u << 4));
    EXPECT_EQ(PayloadOf(packet), payload);
}

TEST(Packets, CompressionOnlyWhenItMakesThePayloadSmaller) {
    struct Case {
        std::vector<uint8_t> payload;
        bool compressed;
    };
    const Case cases[] = {
        {test::TextBytes(5000), true},
        {test::NoiseBytes(5000), false},
        {test::NoiseBytes(65536), false}, // deflated form does not fit the payload's size
        {test::TextBytes(65536), true},
        {{}, false},
        {{'x'}, false},
    };
    for (const Case& c : cases) {
        DirectLink link;
        std::vector<uint8_t> buffer = SendBuffer(c.payload);
        uint32_t n = static_cast<uint32_t>(c.payload.size());
        std::thread writer([&] {
            EXPECT_EQ(SendPacket(link.sender, PT_CONNECT, buffer, n, SEND_COMPRESS | SEND_ENCIPHER,
                                 false),
                      0u);
        });
        std::vector<uint8_t> packet;
        uint32_t err = 0;
        int64_t received = ReceivePacket(link.receiver, PacketSide::Client, packet, err);
        writer.join();
        ASSERT_GT(received, 0) << err;
        PacketHeader header = PacketHeaderRead(packet.data());
        EXPECT_EQ((header.flags & PF_COMPRESSED) != 0, c.compressed) << n;
        EXPECT_EQ(received < int64_t{n} + 16, c.compressed) << n;
        EXPECT_EQ(header.length, n);
        EXPECT_EQ(PayloadOf(packet), c.payload);
    }
}

TEST(ReceivePacket, SizeLimitsOfServerAndClient) {
    struct Case {
        PacketSide side;
        uint32_t total;
        bool accepted;
    };
    const Case cases[] = {
        {PacketSide::Server, 65553, true},  {PacketSide::Client, 65553, false},
        {PacketSide::Client, 65552, true},  {PacketSide::Server, 65554, false},
        {PacketSide::Client, 65554, false},
    };
    for (const Case& c : cases) {
        SocketPair sockets;
        std::vector<uint8_t> wire = test::WirePacket(PT_ECHO, 0, test::NoiseBytes(c.total - 16));
        std::thread writer([&] { test::WriteAll(sockets.a(), wire); });
        PacketConnection conn;
        conn.nSocket = sockets.b();
        std::vector<uint8_t> packet;
        uint32_t err = 0;
        int64_t r = ReceivePacket(conn, c.side, packet, err);
        if (!c.accepted)
            sockets.CloseA(); // let the writer finish if it is still sending
        writer.join();
        if (c.accepted) {
            EXPECT_EQ(r, int64_t{c.total});
            EXPECT_TRUE(std::equal(wire.begin() + 16, wire.end(), packet.begin() + 16));
        } else {
            EXPECT_EQ(r, -1) << c.total;
            EXPECT_EQ(err, ERROR_INSUFFICIENT_BUFFER_CODE) << c.total;
        }
    }
}

// Every bit outside the length field is covered by the checksum; after the
// failure the bytes already waiting are gone, and the link works on.
TEST(ReceivePacket, AnyFlippedBitGivesChecksumErrorAndDropsPendingBytes) {
    std::vector<uint8_t> good =
        test::WirePacket(PT_REQUEST, PF_ENCIPHERED | (3u << 4), test::NoiseBytes(24));
    std::vector<uint8_t> trailer = test::NoiseBytes(100, 2);
    SocketPair sockets;
    PacketConnection conn;
    conn.nSocket = sockets.b();
    std::vector<uint8_t> packet;
    uint32_t err = 0;
    for (size_t bit = 0; bit < good.size() * 8; ++bit) {
        size_t byte = bit / 8;
        if (byte >= PACKET_LENGTH_OFFSET && byte < PACKET_LENGTH_OFFSET + 4)
            continue;
        std::vector<uint8_t> bad = good;
        bad[byte] ^= static_cast<uint8_t>(1u << (bit % 8));
        bad.insert(bad.end(), trailer.begin(), trailer.end());
        ASSERT_TRUE(test::WriteAll(sockets.a(), bad));
        ASSERT_EQ(ReceivePacket(conn, PacketSide::Server, packet, err), -1) << bit;
        ASSERT_EQ(err, ERROR_CRC_CODE) << bit;
        ASSERT_EQ(test::PendingBytes(sockets.b()), 0) << bit;
    }
    ASSERT_TRUE(test::WriteAll(sockets.a(), good));
    EXPECT_EQ(ReceivePacket(conn, PacketSide::Server, packet, err), int64_t(good.size()));
}

TEST(ReceivePacket, WrongMagicAndVersionAreAccepted) {
    std::vector<uint8_t> wire = test::WirePacket(PT_ECHO, 0, {1, 2, 3});
    wire[0] = 'X';
    wire[1] = 'Y';
    wire[2] = 9;
    wire[3] = 9;
    uint16_t checksum = PacketChecksum(wire.data(), wire.size());
    wire[10] = static_cast<uint8_t>(checksum);
    wire[11] = static_cast<uint8_t>(checksum >> 8);
    SocketPair sockets;
    ASSERT_TRUE(test::WriteAll(sockets.a(), wire));
    PacketConnection conn;
    conn.nSocket = sockets.b();
    std::vector<uint8_t> packet;
    uint32_t err = 0;
    EXPECT_EQ(ReceivePacket(conn, PacketSide::Client, packet, err), 19);
    EXPECT_EQ(PayloadOf(packet), (std::vector<uint8_t>{1, 2, 3}));
}

TEST(ReceivePacket, PeerClosingMidPacketGives1226) {
    std::vector<uint8_t> wire = test::WirePacket(PT_ECHO, 0, test::NoiseBytes(50));
    for (size_t cut : {size_t{0}, size_t{7}, size_t{16}, size_t{40}}) {
        SocketPair sockets;
        ASSERT_TRUE(test::WriteAll(sockets.a(), wire.data(), cut));
        sockets.CloseA();
        PacketConnection conn;
        conn.nSocket = sockets.b();
        std::vector<uint8_t> packet;
        uint32_t err = 0;
        EXPECT_EQ(ReceivePacket(conn, PacketSide::Server, packet, err), 0) << cut;
        EXPECT_EQ(err, ERROR_CONNECTION_CLOSED_CODE) << cut;
    }
}

// A time-out on a blocking socket means "nothing yet" (10060); an empty
// non-blocking socket means "would block" (10035).
TEST(ReceivePacket, TimeOutAndWouldBlockAreTold) {
    SocketPair sockets;
    PacketConnection conn;
    conn.nSocket = sockets.b();
    timeval timeout{0, 20000};
    ASSERT_EQ(setsockopt(sockets.b(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout), 0);
    std::vector<uint8_t> packet;
    uint32_t err = 0;
    EXPECT_EQ(ReceivePacket(conn, PacketSide::Server, packet, err), -1);
    EXPECT_EQ(err, WSAETIMEDOUT_CODE);

    ASSERT_EQ(fcntl(sockets.b(), F_SETFL, O_NONBLOCK), 0);
    EXPECT_EQ(ReceivePacket(conn, PacketSide::Server, packet, err), -1);
    EXPECT_EQ(err, WSAEWOULDBLOCK_CODE);
}

// A clock that delivers the rest of a packet the first time the receiver
// looks at it, i.e. exactly when the receiver has run dry mid-packet.
class DeliveringClock : public Clock {
  public:
    DeliveringClock(int fd, std::vector<uint8_t> rest) : fd_(fd), rest_(std::move(rest)) {}
    uint32_t Tick() const override {
        if (!rest_.empty()) {
            test::WriteAll(fd_, rest_);
            rest_.clear();
        }
        return 1;
    }
    SystemTime LocalNow() const override { return {}; }

  private:
    int fd_;
    mutable std::vector<uint8_t> rest_;
};

// A packet that stops arriving halfway is waited for rather than dropped:
// dropping it would leave the stream without a packet boundary.
TEST(ReceivePacket, StallMidPacketIsWaitedOut) {
    std::vector<uint8_t> wire = test::WirePacket(PT_ECHO, 0, test::NoiseBytes(40));
    SocketPair sockets;
    ASSERT_EQ(fcntl(sockets.b(), F_SETFL, O_NONBLOCK), 0);
    ASSERT_TRUE(test::WriteAll(sockets.a(), wire.data(), 10));
    DeliveringClock clock(sockets.a(), {wire.begin() + 10, wire.end()});
    PacketConnection conn;
    conn.nSocket = sockets.b();
    conn.pClock = &clock;
    std::vector<uint8_t> packet;
    uint32_t err = 0;
    EXPECT_EQ(ReceivePacket(conn, PacketSide::Server, packet, err), 56) << err;
    EXPECT_EQ(PayloadOf(packet), std::vector<uint8_t>(wire.begin() + 16, wire.end()));
}

TEST(ReceivePacket, StallMidPacketEndsAfter100Seconds) {
    std::vector<uint8_t> wire = test::WirePacket(PT_ECHO, 0, test::NoiseBytes(40));
    SocketPair sockets;
    timeval timeout{0, 1000};
    ASSERT_EQ(setsockopt(sockets.b(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout), 0);
    ASSERT_TRUE(test::WriteAll(sockets.a(), wire.data(), 20));
    test::SteppingClock clock(40000);
    PacketConnection conn;
    conn.nSocket = sockets.b();
    conn.pClock = &clock;
    std::vector<uint8_t> packet;
    uint32_t err = 0;
    EXPECT_EQ(ReceivePacket(conn, PacketSide::Server, packet, err), -1);
    EXPECT_EQ(err, ERROR_TIMEOUT_CODE);
}

// A stop request ends the waits for a stalled peer at once, in both
// directions, while whole packets still go through (a stopping server
// still reads the client's disconnect).
TEST(Packets, StopRequestEndsStallsButNotWholePackets) {
    std::vector<uint8_t> wire = test::WirePacket(PT_DISCONNECT, 0, {});
    SocketPair sockets;
    timeval timeout{0, 1000};
    ASSERT_EQ(setsockopt(sockets.b(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout), 0);
    ASSERT_TRUE(test::WriteAll(sockets.a(), wire));
    ASSERT_TRUE(test::WriteAll(sockets.a(), wire.data(), 10));
    test::SteppingClock clock(1000); // the 100 s limits would take 100 looks
    PacketConnection receiver;
    receiver.nSocket = sockets.b();
    receiver.pClock = &clock;
    receiver.stopRequested = [] { return true; };
    std::vector<uint8_t> packet;
    uint32_t err = 0;
    EXPECT_EQ(ReceivePacket(receiver, PacketSide::Server, packet, err), 16) << err;
    EXPECT_EQ(ReceivePacket(receiver, PacketSide::Server, packet, err), -1);
    EXPECT_EQ(err, WSAEINTR_CODE);

    int small = 4096;
    setsockopt(sockets.a(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    ASSERT_EQ(fcntl(sockets.a(), F_SETFL, O_NONBLOCK), 0);
    PacketConnection sender;
    sender.nSocket = sockets.a();
    sender.pClock = &clock;
    sender.stopRequested = [] { return true; };
    std::vector<uint8_t> buffer = SendBuffer(test::NoiseBytes(65536));
    EXPECT_EQ(SendPacket(sender, PT_ECHO, buffer, 65536, 0, false), WSAEINTR_CODE);
}

// A receive that found nothing must not throw away a packet that arrives a
// moment later. The receiver polls an empty non-blocking socket as fast as
// it can while packets trickle in, so arrivals land at every point of its
// failure path.
TEST(ReceivePacket, NothingIsDroppedAfterAReceiveThatFoundNothing) {
    constexpr int kPackets = 200;
    SocketPair sockets;
    ASSERT_EQ(fcntl(sockets.b(), F_SETFL, O_NONBLOCK), 0);
    std::thread sender([&] {
        for (int i = 0; i < kPackets; ++i) {
            std::vector<uint8_t> wire = test::WirePacket(PT_ECHO, 0, {uint8_t(i), 1, 2, 3});
            test::WriteAll(sockets.a(), wire);
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
        sockets.CloseA();
    });
    PacketConnection conn;
    conn.nSocket = sockets.b();
    std::vector<uint8_t> packet;
    std::vector<int> received;
    for (;;) {
        uint32_t err = 0;
        int64_t n = ReceivePacket(conn, PacketSide::Server, packet, err);
        if (n > 0)
            received.push_back(PayloadOf(packet).at(0));
        else if (n == 0 || err != WSAEWOULDBLOCK_CODE)
            break;
    }
    sender.join();
    std::vector<int> expected;
    for (int i = 0; i < kPackets; ++i)
        expected.push_back(uint8_t(i));
    EXPECT_EQ(received, expected);
}

// Each image cipher over a real TCP connection; the receiver keeps one
// state and sets it up again whenever the type names another algorithm.
TEST(Packets, EveryImageCipherRoundTripsOverTcp) {
    const size_t expectedLength[IMAGE_CIPHER_COUNT] = {1000, 1008, 1008, 1008, 1008,
                                                       1008, 1008, 1008, 1000};
    DirectLink link(true);
    std::vector<uint8_t> payload = test::NoiseBytes(1000, 11);
    for (int algorithm = 0; algorithm < IMAGE_CIPHER_COUNT; ++algorithm) {
        link.clock.Advance(512);
        ImageCipherRelease(link.sender.imageCipher);
        link.sender.imageCipher.nAlgorithm = algorithm;
        ASSERT_EQ(ImageCipherSetUp(link.sender.imageCipher), 0u);
        std::vector<uint8_t> buffer = SendBuffer(payload);
        uint16_t type = static_cast<uint16_t>(PT_IMAGE + algorithm);
        ASSERT_EQ(SendPacket(link.sender, type, buffer, 1000, SEND_ENCIPHER, false), 0u);
        if (algorithm != IMAGE_CIPHER_NONE) {
            EXPECT_FALSE(std::equal(payload.begin(), payload.begin() + 32, buffer.begin() + 16));
        }

        std::vector<uint8_t> packet;
        uint32_t err = 0;
        int64_t n = ReceivePacket(link.receiver, PacketSide::Client, packet, err);
        ASSERT_EQ(n, int64_t(16 + expectedLength[algorithm])) << algorithm << " " << err;
        PacketHeader header = PacketHeaderRead(packet.data());
        EXPECT_EQ(header.type, type);
        EXPECT_EQ(header.flags & (PF_ENCIPHERED | PF_SENT_PLAIN), PF_ENCIPHERED);
        EXPECT_EQ(PayloadOf(packet), payload) << algorithm;
        EXPECT_EQ(link.receiver.imageCipher.nAlgorithm, algorithm);
    }
}

TEST(Packets, ImageGoesPlainWhenTheCipherCannotBeSetUp) {
    DirectLink link;
    ManualClock setUpClock;
    test::ClockSleeper sleeper(setUpClock);
    ImageCipherState& state = link.sender.imageCipher;
    state.nAlgorithm = IMAGE_CIPHER_AES_128;
    state.hooks = {&setUpClock, &sleeper, [](int) { return true; }};
    ASSERT_NE(ImageCipherSetUp(state), 0u);

    std::vector<uint8_t> payload = test::NoiseBytes(1000);
    std::vector<uint8_t> buffer = SendBuffer(payload);
    ASSERT_EQ(SendPacket(link.sender, PT_IMAGE + 3, buffer, 1000, SEND_ENCIPHER, false), 0u);
    std::vector<uint8_t> packet;
    uint32_t err = 0;
    ASSERT_EQ(ReceivePacket(link.receiver, PacketSide::Client, packet, err), 1016);
    PacketHeader header = PacketHeaderRead(packet.data());
    EXPECT_EQ(header.flags & (PF_ENCIPHERED | PF_SENT_PLAIN), PF_ENCIPHERED | PF_SENT_PLAIN);
    EXPECT_EQ(PayloadOf(packet), payload);
    EXPECT_FALSE(link.receiver.imageCipher.fReady);
}

// A state set up for another algorithm than the packet type names would
// produce bytes the peer cannot read; such a piece goes plain too.
TEST(Packets, ImageGoesPlainWhenTheStateIsForAnotherAlgorithm) {
    DirectLink link;
    link.sender.imageCipher.nAlgorithm = IMAGE_CIPHER_AES_128;
    ASSERT_EQ(ImageCipherSetUp(link.sender.imageCipher), 0u);
    std::vector<uint8_t> payload = test::NoiseBytes(100);
    std::vector<uint8_t> buffer = SendBuffer(payload);
    ASSERT_EQ(SendPacket(link.sender, PT_IMAGE + 5, buffer, 100, SEND_ENCIPHER, false), 0u);
    std::vector<uint8_t> packet;
    uint32_t err = 0;
    ASSERT_EQ(ReceivePacket(link.receiver, PacketSide::Client, packet, err), 116);
    EXPECT_NE(PacketHeaderRead(packet.data()).flags & PF_SENT_PLAIN, 0u);
    EXPECT_EQ(PayloadOf(packet), payload);
}

// A payload handed over in parts travels byte for byte as the same payload
// laid out in the buffer: for every image cipher, for a piece whose cipher
// is not ready (plain), for a control packet, with and without SEND_MORE.
TEST(SendPacketFrom, TravelsLikeThePayloadInTheBuffer) {
    std::vector<uint8_t> payload = test::NoiseBytes(1000, 5);
    auto Split = [&](std::initializer_list<size_t> cuts) {
        std::vector<std::span<const uint8_t>> parts;
        size_t nAt = 0;
        for (size_t nCut : cuts) {
            parts.emplace_back(payload.data() + nAt, nCut - nAt);
            nAt = nCut;
        }
        parts.emplace_back(payload.data() + nAt, payload.size() - nAt);
        return parts;
    };
    const std::vector<std::span<const uint8_t>> splits[] = {Split({}), Split({20, 20, 21, 500}),
                                                            Split({1, 999})};
    struct Case {
        uint16_t nType;
        int nAlgorithm; // -1: state not set up
        uint32_t nOptions;
    };
    std::vector<Case> cases;
    for (int algorithm = 0; algorithm < IMAGE_CIPHER_COUNT; ++algorithm)
        cases.push_back({uint16_t(PT_IMAGE + algorithm), algorithm, SEND_ENCIPHER | SEND_MORE});
    cases.push_back({PT_IMAGE + 3, -1, SEND_ENCIPHER});
    cases.push_back({PT_ECHO, 0, SEND_ENCIPHER});
    cases.push_back({PT_ECHO, 0, 0});
    DirectLink link;
    for (const Case& c : cases) {
        ImageCipherRelease(link.sender.imageCipher);
        if (c.nAlgorithm >= 0) {
            link.sender.imageCipher.nAlgorithm = c.nAlgorithm;
            ASSERT_EQ(ImageCipherSetUp(link.sender.imageCipher), 0u);
        }
        link.clock.Advance(512);
        std::vector<uint8_t> buffer = SendBuffer(payload);
        ASSERT_EQ(SendPacket(link.sender, c.nType, buffer, 1000, c.nOptions, false), 0u);
        PacketHeader header = PacketHeaderRead(buffer.data());
        std::vector<uint8_t> expected =
            test::ReadExactly(link.sockets.b(), PACKET_HEADER_SIZE + header.length);
        for (const auto& parts : splits) {
            std::vector<uint8_t> target(PACKET_HEADER_SIZE + 1000 + PACKET_SEND_SPARE, 0xEE);
            ASSERT_EQ(SendPacketFrom(link.sender, c.nType, parts, target, c.nOptions, false), 0u);
            EXPECT_EQ(test::ReadExactly(link.sockets.b(), expected.size()), expected)
                << c.nType << " " << c.nAlgorithm << " " << parts.size();
        }
    }
    std::vector<uint8_t> small(PACKET_HEADER_SIZE + 1000 + PACKET_SEND_SPARE - 1);
    EXPECT_EQ(SendPacketFrom(link.sender, PT_IMAGE, splits[0], small, SEND_ENCIPHER, false),
              ERROR_INSUFFICIENT_BUFFER_CODE);
}

TEST(SendPacket, RefusesABufferWithoutRoomForThePayload) {
    DirectLink link;
    std::vector<uint8_t> buffer(16 + 100);
    EXPECT_EQ(SendPacket(link.sender, PT_ECHO, buffer, 101, 0, false),
              ERROR_INSUFFICIENT_BUFFER_CODE);
    EXPECT_EQ(SendPacket(link.sender, PT_IMAGE, buffer, 100, SEND_ENCIPHER, false),
              ERROR_INSUFFICIENT_BUFFER_CODE); // no spare room for cipher padding
    EXPECT_EQ(SendPacket(link.sender, PT_ECHO, buffer, 100, SEND_ENCIPHER, false), 0u);
}

TEST(SendPacket, GivesUpWhenThePeerTakesNothingFor100Seconds) {
    SocketPair sockets;
    int small = 4096;
    setsockopt(sockets.a(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    ASSERT_EQ(fcntl(sockets.a(), F_SETFL, O_NONBLOCK), 0);
    test::SteppingClock clock(30000);
    PacketConnection conn;
    conn.nSocket = sockets.a();
    conn.pClock = &clock;
    std::vector<uint8_t> buffer = SendBuffer(test::NoiseBytes(65536));
    EXPECT_EQ(SendPacket(conn, PT_ECHO, buffer, 65536, 0, false), ERR_SEND_TIMEOUT);
}

TEST(SendPacket, FailureOfTheSocketIsReturned) {
    SocketPair sockets;
    PacketConnection conn;
    conn.nSocket = sockets.a();
    ::shutdown(sockets.b(), SHUT_RDWR);
    std::vector<uint8_t> buffer = SendBuffer({1, 2});
    EXPECT_EQ(SendPacket(conn, PT_ECHO, buffer, 2, 0, false), uint32_t{WSAECONNRESET_CODE});
}

TEST(SendPacket, LogLines) {
    test::TempDir dir;
    ASSERT_TRUE(LogOpen(dir.File("log.txt")));
    DirectLink link;
    std::vector<uint8_t> result = SendBuffer({2, 0, 0, 0, 0x03, 0, 0, 0x20});
    ASSERT_EQ(SendPacket(link.sender, PT_RESULT, result, 8, SEND_ENCIPHER, true), 0u);
    std::vector<uint8_t> empty = SendBuffer({});
    ASSERT_EQ(SendPacket(link.sender, PT_DISCONNECT, empty, 0, SEND_ENCIPHER, true), 0u);
    ASSERT_EQ(SendPacket(link.sender, PT_ECHO, empty, 0, SEND_ENCIPHER, false), 0u);
    ::shutdown(link.sockets.b(), SHUT_RDWR);
    EXPECT_NE(SendPacket(link.sender, PT_ECHO, empty, 0, 0, true), 0u);
    LogClose();

    std::string log = test::ReadFileText(dir.File("log.txt"));
    EXPECT_NE(log.find("\tclientへ接続要求結果送信(0x20000003-パスワード不一致)\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("\tclientへ切断送信\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("clientへエコー送信\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\tclientへエコー送信でエラー発生(0x00002746-"), std::string::npos) << log;
}

// A relayed link through the in-memory relay: what is sent lands in its
// storage and is fetched by the poll that an empty receive triggers.
struct RelayLink {
    RelayLink() : sleeper(clock) {
        conn.fRelayed = true;
        conn.pRelay = &relay;
        conn.cPeerName = "relay";
        conn.pClock = &clock;
        conn.pSleeper = &sleeper;
    }
    ManualClock clock;
    test::ClockSleeper sleeper;
    test::FakeRelay relay;
    PacketConnection conn;
};

TEST(Relay, PacketsTravelThroughTheRelay) {
    struct Case {
        uint16_t type;
        std::vector<uint8_t> payload;
        uint32_t options;
        int algorithm;
    };
    const Case cases[] = {
        {PT_ECHO, test::NoiseBytes(300), SEND_ENCIPHER, 0},
        {PT_CONNECT, test::TextBytes(3000), SEND_COMPRESS | SEND_ENCIPHER, 0},
        // larger than any direct packet: the relay hands its buffer over
        {PT_CONNECT, test::TextBytes(300000), SEND_COMPRESS | SEND_ENCIPHER, 0},
        {PT_IMAGE + 3, test::NoiseBytes(200000), SEND_ENCIPHER, IMAGE_CIPHER_AES_128},
        {PT_IMAGE + 8, test::NoiseBytes(1000), SEND_ENCIPHER, IMAGE_CIPHER_RC4},
    };
    for (const Case& c : cases) {
        RelayLink link;
        link.clock.SetTick(0xFFFFFFFF - 5); // the recorded tick is never 0
        link.conn.imageCipher.nAlgorithm = c.algorithm;
        ASSERT_EQ(ImageCipherSetUp(link.conn.imageCipher), 0u);
        std::vector<uint8_t> buffer = SendBuffer(c.payload);
        uint32_t n = static_cast<uint32_t>(c.payload.size());
        link.clock.Advance(6);
        ASSERT_EQ(SendPacket(link.conn, c.type, buffer, n, c.options, false), 0u);
        ASSERT_EQ(link.relay.sent.size(), 1u);
        EXPECT_EQ(link.relay.sent[0].fImage, c.type >= PT_IMAGE);
        EXPECT_EQ(link.relay.sent[0].info.nUncompressedLength, n);
        EXPECT_EQ(link.conn.nLastRelaySend, 1u);

        std::vector<uint8_t> packet;
        uint32_t err = 0;
        uint32_t sequence = 0;
        int64_t r = ReceivePacket(link.conn, PacketSide::Client, packet, err, &sequence);
        ASSERT_EQ(r, int64_t(link.relay.sent[0].bytes.size())) << err;
        EXPECT_EQ(link.relay.nPolls, 1);
        EXPECT_EQ(sequence, 100u);
        EXPECT_EQ(PacketHeaderRead(packet.data()).type, c.type);
        EXPECT_EQ(PayloadOf(packet), c.payload);
    }
}

TEST(Relay, ReceiveAnswers) {
    RelayLink link;
    std::vector<uint8_t> packet;
    uint32_t err = 0;
    // Nothing there even after one poll.
    EXPECT_EQ(ReceivePacket(link.conn, PacketSide::Server, packet, err), -1);
    EXPECT_EQ(err, WSAEWOULDBLOCK_CODE);
    EXPECT_EQ(link.relay.nPolls, 1);
    // Poll only: fetch, take nothing.
    link.relay.storage.push_back({test::WirePacket(PT_ECHO, 0, {}), {}, false});
    EXPECT_EQ(ReceivePacket(link.conn, PacketSide::Client, packet, err, nullptr, RECEIVE_POLL_ONLY),
              0);
    EXPECT_EQ(link.relay.queue.size(), 1u);
    // A relay failure comes back as its code.
    link.relay.nForcedAnswer = -int64_t{ERR_STORAGE_RECEIVE};
    EXPECT_EQ(ReceivePacket(link.conn, PacketSide::Server, packet, err), -1);
    EXPECT_EQ(err, ERR_STORAGE_RECEIVE);
    // A length that disagrees with the header.
    link.relay.nForcedAnswer = 0;
    link.relay.queue.front().bytes.push_back(0);
    EXPECT_EQ(ReceivePacket(link.conn, PacketSide::Server, packet, err), -1);
    EXPECT_EQ(err, ERR_RELAY_LENGTH);
}

TEST(Relay, InflatedSizeMustMatchTheAnnouncedOne) {
    RelayLink link;
    std::vector<uint8_t> text = test::TextBytes(4000);
    for (uint32_t announced : {3999u, 4001u, 0xFFFFFFFFu}) {
        link.relay.queue.push_back(
            {test::WirePacket(PT_CONNECT, PF_COMPRESSED, test::Deflated(text)),
             {announced, 1},
             false});
        std::vector<uint8_t> packet;
        uint32_t err = 0;
        EXPECT_EQ(ReceivePacket(link.conn, PacketSide::Client, packet, err), -1);
        EXPECT_EQ(err, ERR_INFLATE_DATA) << announced;
    }
}

TEST(Relay, SendIsTriedTenTimesOneSecondApart) {
    for (int refusals : {3, 10}) {
        RelayLink link;
        link.relay.nRefuseSends = refusals;
        std::vector<uint8_t> buffer = SendBuffer({1, 2, 3});
        uint32_t err = SendPacket(link.conn, PT_ECHO, buffer, 3, SEND_ENCIPHER, false);
        EXPECT_EQ(err, refusals < 10 ? 0u : link.relay.nRefuseCode);
        EXPECT_EQ(link.relay.nSendCalls, std::min(refusals + 1, 10));
        EXPECT_EQ(link.sleeper.nSleptMs, 1000u * std::min(refusals, 9));
        EXPECT_NE(link.conn.nLastRelaySend, 0u);
    }
}

} // namespace
} // namespace brindle
