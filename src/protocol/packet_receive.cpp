#include "common/error_codes.h"
#include "common/os_error.h"
#include "protocol/codec_internal.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace brindle {

namespace {

// A buffer that grew for one large relayed packet is given back rather
// than kept for the life of the connection.
constexpr size_t BUFFER_KEPT_MAX = 2 * PACKET_BUFFER_SIZE;

void PrepareBuffer(std::vector<uint8_t>& buffer) {
    if (buffer.size() > BUFFER_KEPT_MAX)
        std::vector<uint8_t>(PACKET_BUFFER_SIZE).swap(buffer);
    else if (buffer.size() < PACKET_BUFFER_SIZE)
        buffer.resize(PACKET_BUFFER_SIZE);
}

bool IsNonBlocking(int fd) {
    int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_NONBLOCK) != 0;
}

// EAGAIN means two things: on a blocking socket the receive time-out
// (SO_RCVTIMEO) ran out, which callers treat as "nothing yet" (10060); on a
// non-blocking socket nothing was there to read (10035).
uint32_t ReceiveErrorCode(int fd, int err) {
    if (err != EAGAIN && err != EWOULDBLOCK)
        return MapErrno(err);
    return IsNonBlocking(fd) ? WSAEWOULDBLOCK_CODE : WSAETIMEDOUT_CODE;
}

// Waiting for the rest of a packet that has begun to arrive. Giving up on
// it would leave the stream without a packet boundary, so a stall is
// waited out up to the same limit that a send has, unless the owner wants
// the connection to end.
class MidPacketWait {
  public:
    explicit MidPacketWait(const PacketConnection& conn) : conn_(conn) {}

    // 0 to read again, else the code that ends the wait.
    uint32_t Wait() {
        if (codec::StopRequested(conn_))
            return WSAEINTR_CODE;
        uint32_t now = codec::ClockOf(conn_).Tick();
        if (!fWaiting_) {
            fWaiting_ = true;
            start_ = now;
        }
        uint32_t elapsed = now - start_;
        if (elapsed > STALL_LIMIT_MS)
            return ERROR_TIMEOUT_CODE;
        // A blocking socket has already waited for its time-out in recv.
        if (IsNonBlocking(conn_.nSocket)) {
            pollfd pfd{conn_.nSocket, POLLIN, 0};
            ::poll(&pfd, 1, static_cast<int>(std::min<uint32_t>(STALL_LIMIT_MS - elapsed, 100)));
        }
        return 0;
    }

  private:
    static constexpr uint32_t STALL_LIMIT_MS = 100000;
    const PacketConnection& conn_;
    bool fWaiting_ = false;
    uint32_t start_ = 0;
};

// Reads exactly n bytes. Returns 1, 0 when the peer closed the connection
// (1226), or -1 on a failed read; nError tells which. fStarted: bytes of this
// packet have been read already; set when this call reads any.
int ReadExact(const PacketConnection& conn, uint8_t* p, size_t n, bool& fStarted,
              uint32_t& nError) {
    MidPacketWait stall(conn);
    size_t got = 0;
    while (got < n) {
        ssize_t r = ::recv(conn.nSocket, p + got, n - got, 0);
        if (r > 0) {
            got += static_cast<size_t>(r);
            fStarted = true;
            continue;
        }
        if (r == 0) {
            nError = ERROR_CONNECTION_CLOSED_CODE;
            return 0;
        }
        int err = errno;
        if (err == EINTR)
            continue;
        if (fStarted && (err == EAGAIN || err == EWOULDBLOCK)) {
            nError = stall.Wait();
            if (nError == 0)
                continue;
            return -1;
        }
        nError = ReceiveErrorCode(conn.nSocket, err);
        return -1;
    }
    return 1;
}

// There is no resynchronisation marker in the stream: after a failure the
// bytes already waiting are dropped so the next read starts afresh.
void DiscardPending(int fd) {
    int nPending = 0;
    if (::ioctl(fd, FIONREAD, &nPending) != 0)
        return;
    uint8_t scrap[4096];
    while (nPending > 0) {
        size_t want = std::min<size_t>(sizeof scrap, static_cast<size_t>(nPending));
        ssize_t r = ::recv(fd, scrap, want, MSG_DONTWAIT);
        if (r <= 0)
            return;
        nPending -= static_cast<int>(r);
    }
}

// Reads the header and the payload. A compressed payload goes into the
// receive area so that inflation can write into the caller's buffer.
// fStarted tells whether any byte of the stream was consumed.
int ReadPacket(PacketConnection& conn, PacketSide side, std::vector<uint8_t>& packet,
               std::span<uint8_t>& wire, uint32_t& nError, bool& fStarted) {
    int r = ReadExact(conn, packet.data(), PACKET_HEADER_SIZE, fStarted, nError);
    if (r <= 0)
        return r;
    PacketHeader header = PacketHeaderRead(packet.data());
    uint64_t nTotal = uint64_t{header.length} + PACKET_HEADER_SIZE;
    if (nTotal > PacketLimit(side)) {
        nError = ERROR_INSUFFICIENT_BUFFER_CODE;
        return -1;
    }
    uint8_t* pTarget = packet.data();
    if ((header.flags & PF_COMPRESSED) != 0) {
        std::copy_n(packet.data(), PACKET_HEADER_SIZE, conn.receiveArea.data());
        pTarget = conn.receiveArea.data();
    }
    r = ReadExact(conn, pTarget + PACKET_HEADER_SIZE, header.length, fStarted, nError);
    if (r <= 0)
        return r;
    wire = std::span<uint8_t>(pTarget, nTotal);
    return 1;
}

int64_t ReceiveDirect(PacketConnection& conn, PacketSide side, std::vector<uint8_t>& packet,
                      uint32_t& nError) {
    std::span<uint8_t> wire;
    bool fStarted = false;
    int r = ReadPacket(conn, side, packet, wire, nError, fStarted);
    if (r > 0) {
        bool fInflated = false;
        nError = DecodePacket(conn.imageCipher, wire, InflateLimit{}, packet, fInflated);
        if (nError == 0)
            return static_cast<int64_t>(wire.size());
        r = -1;
    }
    // A failure that read nothing (a receive time-out, would-block) leaves
    // the stream at a packet boundary: what arrives meanwhile is the next
    // packet, not the rest of a broken one.
    if (fStarted)
        DiscardPending(conn.nSocket);
    return r;
}

// Dequeues from the relay, polling the storage once when nothing is there.
int64_t Dequeue(PacketConnection& conn, PacketSide side, RelayReceiveInfo& info) {
    int64_t n = conn.pRelay->Receive(conn, conn.receiveArea, PacketLimit(side), info);
    if (n == 0) {
        conn.pRelay->Poll(conn);
        n = conn.pRelay->Receive(conn, conn.receiveArea, PacketLimit(side), info);
    }
    return n;
}

int64_t ReceiveRelayed(PacketConnection& conn, PacketSide side, std::vector<uint8_t>& packet,
                       uint32_t& nError, uint32_t* pRelayValue, uint32_t nOptions) {
    if (!conn.pRelay) {
        nError = ERROR_INVALID_PARAMETER_CODE;
        return -1;
    }
    if ((nOptions & RECEIVE_POLL_ONLY) != 0) {
        conn.pRelay->Poll(conn);
        return 0;
    }
    RelayReceiveInfo info;
    int64_t n = Dequeue(conn, side, info);
    if (n <= 0) {
        nError = n < 0 ? static_cast<uint32_t>(0 - static_cast<uint64_t>(n)) : WSAEWOULDBLOCK_CODE;
        return -1;
    }
    if (pRelayValue)
        *pRelayValue = info.nSequence;
    std::span<uint8_t> wire;
    if (static_cast<uint64_t>(n) <= conn.receiveArea.size())
        wire = std::span<uint8_t>(conn.receiveArea).first(static_cast<size_t>(n));
    bool fInflated = false;
    nError = wire.empty()
                 ? ERR_RELAY_LENGTH
                 : DecodePacket(conn.imageCipher, wire,
                                InflateLimit{info.nUncompressedLength, true}, packet, fInflated);
    if (nError != 0) {
        if (conn.receiveArea.size() > BUFFER_KEPT_MAX)
            std::vector<uint8_t>().swap(conn.receiveArea);
        return -1;
    }
    if (!fInflated)
        std::swap(packet, conn.receiveArea);
    return n;
}

} // namespace

int64_t ReceivePacket(PacketConnection& conn, PacketSide side, std::vector<uint8_t>& packet,
                      uint32_t& nError, uint32_t* pRelayValue, uint32_t nOptions) {
    nError = 0;
    try {
        PrepareBuffer(packet);
        PrepareBuffer(conn.receiveArea);
    } catch (const std::bad_alloc&) {
        nError = ERROR_NOT_ENOUGH_MEMORY_CODE;
        return -1;
    }
    if (conn.fRelayed)
        return ReceiveRelayed(conn, side, packet, nError, pRelayValue, nOptions);
    return ReceiveDirect(conn, side, packet, nError);
}

} // namespace brindle
