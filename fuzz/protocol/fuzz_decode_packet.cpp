// Decoding of received packet bytes under libFuzzer.
//
// Input: one mode byte, then (relayed mode) four bytes of announced inflated
// size, then the packet bytes. Mode bit 0 repairs the length field and the
// checksum, so that the fuzzer reaches decipherment and inflation instead of
// stopping at the checksum.
#include "protocol/packet_codec.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

using namespace brindle;

namespace {

void RepairHeader(std::vector<uint8_t>& wire) {
    uint32_t length = static_cast<uint32_t>(wire.size() - PACKET_HEADER_SIZE);
    for (int i = 0; i < 4; ++i)
        wire[PACKET_LENGTH_OFFSET + i] = static_cast<uint8_t>(length >> (8 * i));
    uint16_t checksum = PacketChecksum(wire.data(), wire.size());
    wire[PACKET_CHECKSUM_OFFSET] = static_cast<uint8_t>(checksum);
    wire[PACKET_CHECKSUM_OFFSET + 1] = static_cast<uint8_t>(checksum >> 8);
}

// What a successful decode promises about the delivered packet.
void CheckDelivered(const std::vector<uint8_t>& wire, const std::vector<uint8_t>& inflated,
                    bool fInflated, const InflateLimit& limit) {
    const std::vector<uint8_t>& packet = fInflated ? inflated : wire;
    PacketHeader header = PacketHeaderRead(packet.data());
    if (size_t{header.length} + PACKET_HEADER_SIZE > packet.size())
        std::abort();
    if (fInflated &&
        (limit.fExact ? header.length != limit.nCapacity : header.length > limit.nCapacity))
        std::abort();
    if (!fInflated && header.length > wire.size() - PACKET_HEADER_SIZE)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    uint8_t mode = data[0];
    ++data;
    --size;
    InflateLimit limit;
    if ((mode & 2) != 0) {
        if (size < 4)
            return 0;
        limit.nCapacity = data[0] | (data[1] << 8) | (data[2] << 16) | (size_t{data[3]} << 24);
        limit.fExact = true;
        data += 4;
        size -= 4;
    }
    std::vector<uint8_t> wire(data, data + size);
    if ((mode & 1) != 0 && wire.size() >= PACKET_HEADER_SIZE)
        RepairHeader(wire);
    ImageCipherState cipher;
    // Kept between inputs as a connection keeps it between packets: a fresh
    // buffer per input spends the run zeroing megabytes.
    static std::vector<uint8_t> inflated;
    bool fInflated = false;
    if (DecodePacket(cipher, wire, limit, inflated, fInflated) == 0)
        CheckDelivered(wire, inflated, fInflated, limit);
    return 0;
}
