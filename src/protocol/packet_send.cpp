#include "common/error_codes.h"
#include "common/error_text.h"
#include "common/little_endian.h"
#include "common/log.h"
#include "common/os_error.h"
#include "protocol/codec_internal.h"
#include "protocol/scrambler.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <poll.h>
#include <sys/socket.h>
#include <zlib.h>

namespace brindle {

using codec::ClockOf;
using codec::SleeperOf;

namespace {

constexpr uint32_t SEND_TIME_LIMIT_MS = 100000;
constexpr int RELAY_SEND_ATTEMPTS = 10;
constexpr uint32_t RELAY_SEND_PAUSE_MS = 1000;
// The compression area is kept at this size between packets; a larger one,
// needed only for big relayed payloads, is dropped after use.
constexpr size_t SEND_AREA_KEPT = PacketSendBufferSize(PACKET_PAYLOAD_MAX);

void LogSendError(const PacketConnection& conn, uint16_t nType, uint32_t err) {
    LogWrite("%sへ%s送信でエラー発生(0x%08X-%s)\r\n", conn.cPeerName.c_str(), PacketTypeName(nType),
             err, ErrorText(err).c_str());
}

// Our rule: a payload travels deflated only when its deflated form is
// strictly smaller. Anything else (no gain, no room, a zlib failure) sends it
// as it is with PF_COMPRESSED clear, so a send never fails for compression.
bool Deflate(const uint8_t* pIn, uint32_t nIn, uint8_t* pOut, uint32_t& nOut) {
    if (nIn < 2)
        return false;
    z_stream z{};
    if (deflateInit(&z, 9) != Z_OK)
        return false;
    z.next_in = const_cast<Bytef*>(pIn);
    z.avail_in = nIn;
    z.next_out = pOut;
    z.avail_out = nIn - 1;
    int r = deflate(&z, Z_FINISH);
    bool fDone = r == Z_STREAM_END && z.avail_in == 0 && z.total_in == nIn;
    nOut = static_cast<uint32_t>(z.total_out);
    deflateEnd(&z);
    return fDone;
}

// Deflates the payload into the connection's send area; on success the
// packet to send is there. Returns 0, or 8 when the area cannot be had.
uint32_t Compress(PacketConnection& conn, std::span<uint8_t>& packet, PacketHeader& header) {
    size_t need = PacketSendBufferSize(std::max<size_t>(header.length, PACKET_PAYLOAD_MAX));
    try {
        if (conn.sendArea.size() < need)
            conn.sendArea.resize(need);
    } catch (const std::bad_alloc&) {
        LogWrite("%sへ%s送信でメモリ不足発生(%lu)\r\n", conn.cPeerName.c_str(),
                 PacketTypeName(header.type),
                 static_cast<unsigned long>(header.length + PACKET_HEADER_SIZE));
        return ERROR_NOT_ENOUGH_MEMORY_CODE;
    }
    uint32_t nDeflated = 0;
    if (!Deflate(packet.data() + PACKET_HEADER_SIZE, header.length,
                 conn.sendArea.data() + PACKET_HEADER_SIZE, nDeflated))
        return 0;
    packet = std::span<uint8_t>(conn.sendArea);
    header.length = nDeflated;
    header.flags |= PF_COMPRESSED;
    return 0;
}

unsigned SaltIndexNow(const PacketConnection& conn) {
    return (ClockOf(conn).Tick() >> 9) & PF_SALT_MASK;
}

// A state set up for another algorithm than the type names would give the
// peer bytes it cannot decipher: those go plain as well.
bool ImageCipherFits(const PacketConnection& conn, uint16_t nType) {
    const ImageCipherState& state = conn.imageCipher;
    return state.fReady && state.nAlgorithm == static_cast<int>(nType - PT_IMAGE);
}

void Encipher(PacketConnection& conn, std::span<uint8_t> packet, PacketHeader& header) {
    unsigned nSalt = SaltIndexNow(conn);
    header.flags |= PF_ENCIPHERED | (nSalt << PF_SALT_SHIFT);
    std::span<uint8_t> room = packet.subspan(PACKET_HEADER_SIZE);
    if (header.type < PT_IMAGE) {
        ScrambleStream(room.first(header.length), KeyBlockForPacket(nSalt));
        return;
    }
    ImageCipherState& state = conn.imageCipher;
    if (!ImageCipherFits(conn, header.type)) {
        header.flags |= PF_SENT_PLAIN;
        return;
    }
    size_t nLength = header.length;
    uint32_t err = ImageCipherApply(state, CipherDirection::Encrypt, nSalt, room, nLength);
    if (err != 0) {
        header.flags |= PF_SENT_PLAIN;
        LogWrite("画像暗号化失敗(%08X)\r\n", err);
        return;
    }
    header.length = static_cast<uint32_t>(nLength);
}

void WaitWritable(int fd, uint32_t ms) {
    pollfd pfd{fd, POLLOUT, 0};
    ::poll(&pfd, 1, static_cast<int>(ms));
}

// Sends every byte. EAGAIN is would-block whether it comes from a
// non-blocking socket or from the send time-out of a blocking one: both are
// retried (waiting for room instead of spinning) until the time limit, or
// until the owner wants the connection to end: a peer that stopped reading
// must not hold a stopping thread for the whole limit.
// nFlags adds MSG_MORE when more packets follow.
uint32_t DirectSend(const PacketConnection& conn, const uint8_t* p, size_t n, int nFlags) {
    const Clock& clock = ClockOf(conn);
    uint32_t start = clock.Tick();
    size_t sent = 0;
    while (sent < n) {
        ssize_t r = ::send(conn.nSocket, p + sent, n - sent, MSG_NOSIGNAL | nFlags);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return LastOsError();
        if (r > 0)
            sent += static_cast<size_t>(r);
        if (sent == n)
            break;
        if (r <= 0 && codec::StopRequested(conn))
            return WSAEINTR_CODE;
        uint32_t elapsed = clock.Tick() - start;
        if (elapsed > SEND_TIME_LIMIT_MS)
            return ERR_SEND_TIMEOUT;
        if (r <= 0)
            WaitWritable(conn.nSocket, std::min<uint32_t>(SEND_TIME_LIMIT_MS - elapsed, 100));
    }
    return 0;
}

uint32_t RelaySend(PacketConnection& conn, uint16_t nType, std::span<const uint8_t> packet,
                   uint32_t nPlainLength) {
    if (!conn.pRelay)
        return ERROR_INVALID_PARAMETER_CODE;
    uint32_t err = 0;
    for (int attempt = 0; attempt < RELAY_SEND_ATTEMPTS; ++attempt) {
        if (attempt > 0 && codec::StopRequested(conn))
            break;
        if (attempt > 0)
            SleeperOf(conn).Sleep(RELAY_SEND_PAUSE_MS);
        err = nType < PT_IMAGE ? conn.pRelay->SendControl(conn, packet, nPlainLength)
                               : conn.pRelay->SendImage(conn, packet, nPlainLength);
        if (err == 0)
            break;
    }
    conn.nLastRelaySend = NonZeroTickOf(ClockOf(conn).Tick());
    return err;
}

void LogSent(const PacketConnection& conn, uint16_t nType, const uint8_t* pPayload,
             uint32_t nLength) {
    if (nType == PT_RESULT && nLength >= 8) {
        uint16_t nAnswered = static_cast<uint16_t>(pPayload[0] | (pPayload[1] << 8));
        uint32_t nCode = LoadLe32(pPayload + 4);
        LogWrite("%sへ%s要求結果送信(0x%08X-%s)\r\n", conn.cPeerName.c_str(),
                 PacketTypeName(nAnswered), nCode, ErrorText(nCode).c_str());
        return;
    }
    LogWrite("%sへ%s送信\r\n", conn.cPeerName.c_str(), PacketTypeName(nType));
}

void CopyParts(std::span<const std::span<const uint8_t>> parts, uint8_t* p) {
    for (std::span<const uint8_t> part : parts) {
        if (!part.empty())
            std::memcpy(p, part.data(), part.size());
        p += part.size();
    }
}

// Enciphers the parts into the packet behind the header, as Encipher does
// with a payload already there.
void EncipherFrom(PacketConnection& conn, std::span<const std::span<const uint8_t>> parts,
                  std::span<uint8_t> packet, PacketHeader& header) {
    unsigned nSalt = SaltIndexNow(conn);
    header.flags |= PF_ENCIPHERED | (nSalt << PF_SALT_SHIFT);
    std::span<uint8_t> room = packet.subspan(PACKET_HEADER_SIZE);
    if (header.type >= PT_IMAGE && ImageCipherFits(conn, header.type)) {
        size_t nLength = 0;
        uint32_t err = ImageCipherEncryptFrom(conn.imageCipher, nSalt, parts, room, nLength);
        if (err == 0) {
            header.length = static_cast<uint32_t>(nLength);
            return;
        }
        LogWrite("画像暗号化失敗(%08X)\r\n", err);
    }
    CopyParts(parts, room.data());
    if (header.type < PT_IMAGE)
        ScrambleStream(room.first(header.length), KeyBlockForPacket(nSalt));
    else
        header.flags |= PF_SENT_PLAIN;
}

// Checksums and sends a packet whose header fields and payload are final.
uint32_t Transmit(PacketConnection& conn, std::span<uint8_t> packet, const PacketHeader& header,
                  uint32_t nPlainLength, uint32_t nOptions, bool fLog,
                  const uint8_t (&resultNote)[8]) {
    size_t nTotal = PACKET_HEADER_SIZE + size_t{header.length};
    PacketHeaderWrite(packet.data(), header);
    uint16_t nChecksum = PacketChecksum(packet.data(), nTotal);
    packet[PACKET_CHECKSUM_OFFSET] = static_cast<uint8_t>(nChecksum);
    packet[PACKET_CHECKSUM_OFFSET + 1] = static_cast<uint8_t>(nChecksum >> 8);

    int nSendFlags = (nOptions & SEND_MORE) != 0 ? MSG_MORE : 0;
    uint32_t err = conn.fRelayed ? RelaySend(conn, header.type, packet.first(nTotal), nPlainLength)
                                 : DirectSend(conn, packet.data(), nTotal, nSendFlags);
    if (conn.sendArea.size() > SEND_AREA_KEPT)
        std::vector<uint8_t>().swap(conn.sendArea);
    if (err != 0) {
        LogSendError(conn, header.type, err);
        return err;
    }
    if (fLog)
        LogSent(conn, header.type, resultNote, nPlainLength);
    return 0;
}

} // namespace

uint32_t SendPacket(PacketConnection& conn, uint16_t nType, std::span<uint8_t> buffer,
                    uint32_t nLength, uint32_t nOptions, bool fLog) {
    size_t need =
        PACKET_HEADER_SIZE + size_t{nLength} + (nType >= PT_IMAGE ? PACKET_SEND_SPARE : 0);
    if (buffer.size() < need) {
        LogSendError(conn, nType, ERROR_INSUFFICIENT_BUFFER_CODE);
        return ERROR_INSUFFICIENT_BUFFER_CODE;
    }
    // The log line of a result names what it answers; read it before the
    // payload is enciphered in place.
    uint8_t resultNote[8] = {};
    if (nType == PT_RESULT && nLength >= 8)
        std::copy_n(buffer.data() + PACKET_HEADER_SIZE, 8, resultNote);

    PacketHeader header;
    header.length = nLength;
    header.type = nType;
    std::span<uint8_t> packet = buffer;
    if ((nOptions & SEND_COMPRESS) != 0) {
        if (uint32_t err = Compress(conn, packet, header))
            return err;
    }
    if ((nOptions & SEND_ENCIPHER) != 0)
        Encipher(conn, packet, header);
    return Transmit(conn, packet, header, nLength, nOptions, fLog, resultNote);
}

uint32_t SendPacketFrom(PacketConnection& conn, uint16_t nType,
                        std::span<const std::span<const uint8_t>> parts, std::span<uint8_t> buffer,
                        uint32_t nOptions, bool fLog) {
    size_t nLength = 0;
    for (std::span<const uint8_t> part : parts)
        nLength += part.size();
    if (nLength > UINT32_MAX - PACKET_HEADER_SIZE - PACKET_SEND_SPARE ||
        buffer.size() < PacketSendBufferSize(nLength)) {
        LogSendError(conn, nType, ERROR_INSUFFICIENT_BUFFER_CODE);
        return ERROR_INSUFFICIENT_BUFFER_CODE;
    }
    // The log line of a result names what it answers.
    uint8_t resultNote[8] = {};
    size_t nNote = 0;
    for (std::span<const uint8_t> part : parts) {
        for (size_t i = 0; i < part.size() && nNote < sizeof resultNote; ++i)
            resultNote[nNote++] = part[i];
    }
    PacketHeader header;
    header.length = static_cast<uint32_t>(nLength);
    header.type = nType;
    if ((nOptions & SEND_ENCIPHER) != 0) {
        EncipherFrom(conn, parts, buffer, header);
    } else {
        CopyParts(parts, buffer.data() + PACKET_HEADER_SIZE);
    }
    return Transmit(conn, buffer, header, static_cast<uint32_t>(nLength), nOptions, fLog,
                    resultNote);
}

} // namespace brindle
