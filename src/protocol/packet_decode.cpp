#include "common/error_codes.h"
#include "common/little_endian.h"
#include "common/log.h"
#include "protocol/codec_internal.h"
#include "protocol/scrambler.h"

#include <algorithm>
#include <new>
#include <zlib.h>

namespace brindle {

namespace {

// Deflate cannot shrink data by more than about 1032:1, so a relayed packet
// announcing more than this per compressed byte is damaged; refusing it
// before allocating keeps a bad file from costing gigabytes.
constexpr uint64_t INFLATE_RATIO_MAX = 1040;

uint32_t MapInflateError(int r) {
    switch (r) {
    case Z_VERSION_ERROR:
        return 1;
    case Z_BUF_ERROR:
        return ERR_INFLATE_BUFFER;
    case Z_MEM_ERROR:
        return ERROR_NOT_ENOUGH_MEMORY_CODE;
    case Z_DATA_ERROR:
        return ERR_INFLATE_DATA;
    case Z_STREAM_ERROR:
        return ERR_INFLATE_STREAM;
    default:
        return 0xFFFFFFFF;
    }
}

uint32_t DecipherImage(ImageCipherState& cipher, std::span<uint8_t> payload, unsigned nSalt,
                       PacketHeader& header) {
    int nAlgorithm = static_cast<int>(header.type) - PT_IMAGE;
    if (!cipher.fReady || cipher.nAlgorithm != nAlgorithm) {
        ImageCipherRelease(cipher);
        cipher.nAlgorithm = nAlgorithm;
        if (uint32_t err = ImageCipherSetUp(cipher)) {
            LogWrite("画像暗号化アルゴリズム%sの初期化失敗(%08X)\r\n", ImageCipherName(nAlgorithm),
                     err);
            return err;
        }
    }
    size_t nLength = payload.size();
    if (uint32_t err =
            ImageCipherApply(cipher, CipherDirection::Decrypt, nSalt, payload, nLength)) {
        LogWrite("画像複合化失敗(%08X)\r\n", err);
        return err;
    }
    header.length = static_cast<uint32_t>(nLength);
    return 0;
}

uint32_t Decipher(ImageCipherState& cipher, std::span<uint8_t> wire, PacketHeader& header) {
    unsigned nSalt = PacketSaltIndex(header.flags);
    std::span<uint8_t> payload = wire.subspan(PACKET_HEADER_SIZE, header.length);
    if (header.type < PT_IMAGE) {
        ScrambleStream(payload, KeyBlockForPacket(nSalt));
        return 0;
    }
    if ((header.flags & PF_SENT_PLAIN) != 0)
        return 0;
    uint32_t err = DecipherImage(cipher, payload, nSalt, header);
    if (err == 0)
        StoreLe32(wire.data() + PACKET_LENGTH_OFFSET, header.length);
    return err;
}

// Runs inflate until the stream ends; input left behind the end of the
// stream is damage as well.
uint32_t RunInflate(const uint8_t* pIn, uint32_t nIn, uint8_t* pOut, uInt nRoom, size_t& nOut) {
    z_stream z{};
    int r = inflateInit(&z);
    if (r != Z_OK)
        return MapInflateError(r);
    z.next_in = const_cast<Bytef*>(pIn);
    z.avail_in = nIn;
    z.next_out = pOut;
    z.avail_out = nRoom;
    do {
        r = inflate(&z, Z_NO_FLUSH);
    } while (r == Z_OK);
    nOut = z.total_out;
    bool fTrailing = z.avail_in != 0;
    inflateEnd(&z);
    if (r != Z_STREAM_END)
        return MapInflateError(r);
    return fTrailing ? ERR_INFLATE_DATA : 0;
}

uint32_t Inflate(std::span<const uint8_t> wire, const PacketHeader& header,
                 const InflateLimit& limit, std::vector<uint8_t>& inflated) {
    if (limit.fExact && limit.nCapacity > INFLATE_RATIO_MAX * header.length + 64)
        return ERR_INFLATE_DATA;
    size_t nRoom = limit.nCapacity + PACKET_INFLATE_SLACK;
    if (nRoom > UINT32_MAX)
        return ERR_INFLATE_DATA;
    try {
        if (inflated.size() < PACKET_HEADER_SIZE + nRoom)
            inflated.resize(PACKET_HEADER_SIZE + nRoom);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY_CODE;
    }
    size_t nOut = 0;
    uint32_t err = RunInflate(wire.data() + PACKET_HEADER_SIZE, header.length,
                              inflated.data() + PACKET_HEADER_SIZE, static_cast<uInt>(nRoom), nOut);
    if (err != 0)
        return err;
    if (limit.fExact ? nOut != limit.nCapacity : nOut > limit.nCapacity)
        return limit.fExact ? ERR_INFLATE_DATA : ERROR_BUFFER_OVERFLOW_CODE;
    std::copy_n(wire.data(), PACKET_HEADER_SIZE, inflated.data());
    StoreLe32(inflated.data() + PACKET_LENGTH_OFFSET, static_cast<uint32_t>(nOut));
    return 0;
}

} // namespace

uint32_t DecodePacket(ImageCipherState& cipher, std::span<uint8_t> wire, const InflateLimit& limit,
                      std::vector<uint8_t>& inflated, bool& fInflated) {
    fInflated = false;
    if (wire.size() < PACKET_HEADER_SIZE)
        return ERR_RELAY_LENGTH;
    PacketHeader header = PacketHeaderRead(wire.data());
    if (uint64_t{header.length} + PACKET_HEADER_SIZE != wire.size())
        return ERR_RELAY_LENGTH;
    if (PacketChecksum(wire.data(), wire.size()) != header.checksum)
        return ERROR_CRC_CODE;
    if ((header.flags & PF_ENCIPHERED) != 0) {
        if (uint32_t err = Decipher(cipher, wire, header))
            return err;
    }
    if ((header.flags & PF_COMPRESSED) != 0) {
        if (uint32_t err = Inflate(wire, header, limit, inflated))
            return err;
        fInflated = true;
    }
    return 0;
}

} // namespace brindle
