#include "protocol_test_util.h"

#include "support/loopback.h"

#include <cerrno>
#include <random>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

namespace brindle::test {

namespace {

// A TCP connection on 127.0.0.1: fds[0] the side that connected.
void ConnectTcpLoopback(int fds[2]) {
    LoopbackListener listener(0, 1);
    UniqueFd connected = ConnectLoopback(listener.Port());
    if (!listener.Valid() || !connected)
        throw std::runtime_error("loopback connect");
    fds[1] = ::accept4(listener.Fd(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fds[1] < 0)
        throw std::runtime_error("loopback accept");
    fds[0] = connected.Release();
}

} // namespace

SocketPair::SocketPair(bool fTcp) {
    if (fTcp) {
        ConnectTcpLoopback(fds_);
    } else if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_) != 0) {
        throw std::runtime_error("socketpair");
    }
}

SocketPair::~SocketPair() {
    for (int fd : fds_) {
        if (fd >= 0)
            ::close(fd);
    }
}

void SocketPair::CloseA() {
    ::close(fds_[0]);
    fds_[0] = -1;
}

bool WriteAll(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        ssize_t r = ::send(fd, p, n, MSG_NOSIGNAL);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

std::vector<uint8_t> ReadExactly(int fd, size_t n) {
    std::vector<uint8_t> bytes(n);
    size_t got = 0;
    while (got < n) {
        ssize_t r = ::recv(fd, bytes.data() + got, n - got, 0);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        got += static_cast<size_t>(r);
    }
    bytes.resize(got);
    return bytes;
}

int PendingBytes(int fd) {
    int n = -1;
    ::ioctl(fd, FIONREAD, &n);
    return n;
}

uint32_t FakeRelay::Send(std::span<const uint8_t> packet, uint32_t nUncompressed, bool fImage) {
    ++nSendCalls;
    if (nRefuseSends > 0) {
        --nRefuseSends;
        return nRefuseCode;
    }
    Entry entry{{packet.begin(), packet.end()}, {nUncompressed, nNextSequence++}, fImage};
    sent.push_back(entry);
    storage.push_back(std::move(entry));
    return 0;
}

uint32_t FakeRelay::SendControl(PacketConnection&, std::span<const uint8_t> packet,
                                uint32_t nUncompressedLength) {
    return Send(packet, nUncompressedLength, false);
}

uint32_t FakeRelay::SendImage(PacketConnection&, std::span<const uint8_t> packet,
                              uint32_t nUncompressedLength) {
    return Send(packet, nUncompressedLength, true);
}

int64_t FakeRelay::Receive(PacketConnection&, std::vector<uint8_t>& buffer, size_t nCapacity,
                           RelayReceiveInfo& info) {
    if (nForcedAnswer != 0)
        return nForcedAnswer;
    if (queue.empty())
        return 0;
    Entry entry = std::move(queue.front());
    queue.pop_front();
    info = entry.info;
    int64_t n = static_cast<int64_t>(entry.bytes.size());
    if (entry.bytes.size() >= nCapacity) {
        ++nHandedOver;
        buffer = std::move(entry.bytes);
    } else {
        std::copy(entry.bytes.begin(), entry.bytes.end(), buffer.begin());
    }
    return n;
}

void FakeRelay::Poll(PacketConnection&) {
    ++nPolls;
    while (!storage.empty()) {
        queue.push_back(std::move(storage.front()));
        storage.pop_front();
    }
}

std::vector<uint8_t> WirePacket(uint16_t type, uint32_t flags,
                                const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> wire(PACKET_HEADER_SIZE + payload.size());
    PacketHeader header;
    header.length = static_cast<uint32_t>(payload.size());
    header.type = type;
    header.flags = flags;
    PacketHeaderWrite(wire.data(), header);
    std::copy(payload.begin(), payload.end(), wire.begin() + PACKET_HEADER_SIZE);
    uint16_t checksum = PacketChecksum(wire.data(), wire.size());
    wire[PACKET_CHECKSUM_OFFSET] = static_cast<uint8_t>(checksum);
    wire[PACKET_CHECKSUM_OFFSET + 1] = static_cast<uint8_t>(checksum >> 8);
    return wire;
}

std::vector<uint8_t> SendBuffer(const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> buffer(PACKET_HEADER_SIZE + payload.size() + PACKET_SEND_SPARE);
    std::copy(payload.begin(), payload.end(), buffer.begin() + PACKET_HEADER_SIZE);
    return buffer;
}

std::vector<uint8_t> NoiseBytes(size_t n, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes)
        b = static_cast<uint8_t>(random());
    return bytes;
}

std::vector<uint8_t> TextBytes(size_t n) {
    static const char kLine[] = "[Camera1]\r\nName=Front door\r\nCycle=10\r\n";
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<uint8_t>(kLine[i % (sizeof kLine - 1)]);
    return bytes;
}

std::vector<uint8_t> Deflated(const std::vector<uint8_t>& bytes) {
    uLongf n = compressBound(bytes.size());
    std::vector<uint8_t> out(n);
    if (compress2(out.data(), &n, bytes.data(), bytes.size(), 9) != Z_OK)
        throw std::runtime_error("compress2");
    out.resize(n);
    return out;
}

std::vector<uint8_t> PayloadOf(const std::vector<uint8_t>& packet) {
    PacketHeader header = PacketHeaderRead(packet.data());
    auto begin = packet.begin() + PACKET_HEADER_SIZE;
    return {begin, begin + header.length};
}

} // namespace brindle::test
