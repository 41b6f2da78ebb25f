// Helpers shared by the protocol tests: real socket pairs, clocks that move
// without waiting, a relay fake, and packet bytes built by hand.
#pragma once

#include "platform/clock.h"
#include "protocol/packet_codec.h"
#include "protocol/sleeper.h"

#include <cstdint>
#include <deque>
#include <vector>

namespace brindle::test {

// A connected pair of sockets, closed on destruction.
class SocketPair {
  public:
    // Unix-domain stream pair, or (fTcp) a TCP connection on 127.0.0.1.
    explicit SocketPair(bool fTcp = false);
    ~SocketPair();
    SocketPair(const SocketPair&) = delete;
    SocketPair& operator=(const SocketPair&) = delete;

    int a() const { return fds_[0]; }
    int b() const { return fds_[1]; }
    void CloseA();

  private:
    int fds_[2] = {-1, -1};
};

// Writes every byte (blocking); false on failure.
bool WriteAll(int fd, const uint8_t* p, size_t n);
inline bool WriteAll(int fd, const std::vector<uint8_t>& bytes) {
    return WriteAll(fd, bytes.data(), bytes.size());
}
// Reads exactly n bytes (blocking).
std::vector<uint8_t> ReadExactly(int fd, size_t n);
// Bytes waiting on a socket.
int PendingBytes(int fd);

// A clock that moves on by `step` each time it is read.
class SteppingClock : public Clock {
  public:
    explicit SteppingClock(uint32_t step) : step_(step) {}
    uint32_t Tick() const override { return tick_ += step_; }
    SystemTime LocalNow() const override { return {}; }

  private:
    mutable uint32_t tick_ = 1;
    uint32_t step_;
};

// A sleeper that moves a ManualClock instead of waiting, and counts.
class ClockSleeper : public Sleeper {
  public:
    explicit ClockSleeper(ManualClock& clock) : clock_(clock) {}
    void Sleep(uint32_t ms) const override {
        clock_.Advance(ms);
        ++nSleeps;
        nSleptMs += ms;
    }
    mutable int nSleeps = 0;
    mutable uint32_t nSleptMs = 0;

  private:
    ManualClock& clock_;
};

// A relay that keeps its "storage" in memory. Sent packets land in the
// storage; Poll moves them into the receive queue, as fetching files would.
class FakeRelay : public RelayTransport {
  public:
    struct Entry {
        std::vector<uint8_t> bytes;
        RelayReceiveInfo info;
        bool fImage = false;
    };

    uint32_t SendControl(PacketConnection& conn, std::span<const uint8_t> packet,
                         uint32_t nUncompressedLength) override;
    uint32_t SendImage(PacketConnection& conn, std::span<const uint8_t> packet,
                       uint32_t nUncompressedLength) override;
    int64_t Receive(PacketConnection& conn, std::vector<uint8_t>& buffer, size_t nCapacity,
                    RelayReceiveInfo& info) override;
    void Poll(PacketConnection& conn) override;

    std::vector<Entry> sent;   // every accepted packet, in order
    std::deque<Entry> storage; // waiting to be polled
    std::deque<Entry> queue;   // ready to be received
    int nRefuseSends = 0;      // this many sends fail first
    uint32_t nRefuseCode = 0x20000061;
    int nSendCalls = 0;
    int nPolls = 0;
    int nHandedOver = 0;       // packets given away instead of copied
    int64_t nForcedAnswer = 0; // non-zero: Receive answers this instead
    uint32_t nNextSequence = 100;

  private:
    uint32_t Send(std::span<const uint8_t> packet, uint32_t nUncompressed, bool fImage);
};

// A packet as it travels, with a correct checksum over whatever is given.
std::vector<uint8_t> WirePacket(uint16_t type, uint32_t flags, const std::vector<uint8_t>& payload);

// A send buffer holding `payload` at +16 with the spare room behind it.
std::vector<uint8_t> SendBuffer(const std::vector<uint8_t>& payload);

// Deterministic bytes that do not compress.
std::vector<uint8_t> NoiseBytes(size_t n, uint32_t seed = 1);
// Bytes that compress well.
std::vector<uint8_t> TextBytes(size_t n);
// zlib stream of the given bytes (level 9).
std::vector<uint8_t> Deflated(const std::vector<uint8_t>& bytes);

// The payload of a delivered packet.
std::vector<uint8_t> PayloadOf(const std::vector<uint8_t>& packet);

} // namespace brindle::test
