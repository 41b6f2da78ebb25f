// Sending and receiving packets on a connection: deflate, encipherment and
// checksum on the way out, the same in reverse on the way in, over a TCP
// socket or through the online-storage relay.
#pragma once

#include "protocol/image_cipher.h"
#include "protocol/packet.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace brindle {

class Clock;
class Sleeper;
class RelayTransport;

// Which program receives: the two differ only in their size limit.
enum class PacketSide { Server, Client };

inline uint32_t PacketLimit(PacketSide side) {
    return side == PacketSide::Server ? PACKET_LIMIT_SERVER : PACKET_LIMIT_CLIENT;
}

// What the codec needs of a connection. The server's and the client's
// connection records embed one. Used by one thread at a time.
struct PacketConnection {
    bool fRelayed = false;             // packets travel through pRelay
    int nSocket = -1;                  // direct connections; not owned
    std::string cPeerName;             // for log lines
    ImageCipherState imageCipher;      // released by the owner when it ends
    RelayTransport* pRelay = nullptr;  // relayed connections; not owned
    uint32_t nLastRelaySend = 0;       // tick of the last relayed send (non-zero)
    const Clock* pClock = nullptr;     // null: SystemClock()
    const Sleeper* pSleeper = nullptr; // null: SystemSleeper()
    // True once the owner wants the connection to end. A send that finds no
    // room and a packet whose rest does not come give up at once then
    // (WSAEINTR_CODE) instead of waiting out their 100 s. Empty: never.
    std::function<bool()> stopRequested;

    // Work areas kept between packets (compression output, receive scratch).
    std::vector<uint8_t> sendArea;
    std::vector<uint8_t> receiveArea;
};

// What the relay reports with a dequeued packet.
struct RelayReceiveInfo {
    uint32_t nUncompressedLength = 0; // inflated payload size of a compressed packet
    uint32_t nSequence = 0;           // sequence number of the file that carried it
};

// The online-storage relay as the codec sees it. Implementations guard their
// own queues; the codec calls from the connection's thread.
class RelayTransport {
  public:
    virtual ~RelayTransport() = default;

    // Offer one framed packet (type below 100 / type 100 and above).
    // nUncompressedLength is the payload length before compression. Returns
    // 0 when the relay took the packet, else a code (the codec tries again).
    virtual uint32_t SendControl(PacketConnection& conn, std::span<const uint8_t> packet,
                                 uint32_t nUncompressedLength) = 0;
    virtual uint32_t SendImage(PacketConnection& conn, std::span<const uint8_t> packet,
                               uint32_t nUncompressedLength) = 0;

    // Dequeue the next packet of `conn` into `buffer` (which holds at least
    // PACKET_BUFFER_SIZE bytes). A packet of nCapacity bytes or more may be
    // handed over instead: `buffer` is then replaced by the relay's own
    // vector. Returns the packet length, 0 when none is queued, or a
    // negated error code.
    virtual int64_t Receive(PacketConnection& conn, std::vector<uint8_t>& buffer, size_t nCapacity,
                            RelayReceiveInfo& info) = 0;

    // Fetch new files from the storage once.
    virtual void Poll(PacketConnection& conn) = 0;
};

// The size of a send buffer for a payload of nPayload bytes: the header,
// the payload and the room that encipherment may grow into.
inline constexpr size_t PacketSendBufferSize(size_t nPayload) {
    return PACKET_HEADER_SIZE + nPayload + PACKET_SEND_SPARE;
}

// Options of SendPacket.
inline constexpr uint32_t SEND_COMPRESS = PF_COMPRESSED;
inline constexpr uint32_t SEND_ENCIPHER = PF_ENCIPHERED;
// More packets follow at once (direct connections): the end of this one
// may wait in the socket to fill a segment with the start of the next,
// instead of going out as a small segment of its own. The last packet of a
// run goes without it. The bytes on the wire are the same.
inline constexpr uint32_t SEND_MORE = 0x100;

// Sends the packet whose payload of nLength bytes lies at buffer[16]; this
// writes the header. Image packets (type 100 and above) need
// PACKET_SEND_SPARE bytes behind the payload. The payload is enciphered in
// place unless it was compressed, so its bytes are not kept. A failed
// compression sends it uncompressed, an unavailable image cipher sends it
// plain with PF_SENT_PLAIN: neither fails the send. fLog logs a success.
// Returns 0 or a code (logged).
uint32_t SendPacket(PacketConnection& conn, uint16_t nType, std::span<uint8_t> buffer,
                    uint32_t nLength, uint32_t nOptions, bool fLog);

// SendPacket for a payload taken from `parts`, one after the other, instead
// of from buffer[16]: the parts are enciphered straight into `buffer` behind
// the header (or copied there when they travel plain), so that the payload
// is not copied once before it is enciphered. `buffer` must not overlap the
// parts and needs the payload's length plus PACKET_SEND_SPARE bytes behind
// the header. Options and results as SendPacket; SEND_COMPRESS is not
// offered.
uint32_t SendPacketFrom(PacketConnection& conn, uint16_t nType,
                        std::span<const std::span<const uint8_t>> parts, std::span<uint8_t> buffer,
                        uint32_t nOptions, bool fLog);

// Option of ReceivePacket (client, relayed): only fetch new files.
inline constexpr uint32_t RECEIVE_POLL_ONLY = 1;

// Receives one packet into `packet` (header at 0, payload at 16), growing it
// to PACKET_BUFFER_SIZE first; a large relayed packet may replace the vector
// by a larger one. Returns the bytes received as they travelled (> 0), or 0
// or -1 with nError set: 0 when the peer closed the connection (1226) or
// for a poll-only call, -1 otherwise. Before the first byte of a packet, a
// socket receive time-out gives 10060 on a blocking socket, and would-block
// on a non-blocking socket or an empty relay gives 10035. Once a packet has
// begun, its rest is awaited (a stall of more than 100,000 ms gives 1460, a
// stop request during the stall WSAEINTR_CODE). After a failure that
// consumed part of a packet or found it bad, the bytes waiting on a direct
// connection are discarded; a failure that read nothing leaves them for the
// next call. pRelayValue receives the relay sequence number.
int64_t ReceivePacket(PacketConnection& conn, PacketSide side, std::vector<uint8_t>& packet,
                      uint32_t& nError, uint32_t* pRelayValue = nullptr, uint32_t nOptions = 0);

// How a compressed payload may inflate.
struct InflateLimit {
    size_t nCapacity = PACKET_PAYLOAD_MAX; // room is nCapacity + PACKET_INFLATE_SLACK
    bool fExact = false;                   // relayed: the result must be exactly nCapacity bytes
};

// The part of ReceivePacket that works on bytes already received: checksum,
// decipherment (wire is changed in place) and inflation. `wire` must be
// exactly one packet as it travelled. A compressed packet is delivered in
// `inflated` (grown as needed, header at 0) and fInflated is set; any other
// packet is delivered in `wire`. The delivered header's length is the plain
// payload length. The two buffers must not overlap. Never reads or writes
// outside them.
uint32_t DecodePacket(ImageCipherState& cipher, std::span<uint8_t> wire, const InflateLimit& limit,
                      std::vector<uint8_t>& inflated, bool& fInflated);

} // namespace brindle
