// The packet format: a 16-byte header and a payload of the stated length.
// Every multi-byte field is little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brindle {

inline constexpr size_t PACKET_HEADER_SIZE = 16;
// Largest payload after inflation on a direct connection.
inline constexpr uint32_t PACKET_PAYLOAD_MAX = 65536;
// Inflation gets this much room beyond its capacity, so that an oversize
// result is recognised as such rather than as a full buffer.
inline constexpr size_t PACKET_INFLATE_SLACK = 1024;
// Size of a receive buffer: header, largest payload and the slack.
inline constexpr size_t PACKET_BUFFER_SIZE =
    PACKET_HEADER_SIZE + PACKET_PAYLOAD_MAX + PACKET_INFLATE_SLACK;
// Spare bytes a sender leaves behind an image payload for cipher padding.
inline constexpr size_t PACKET_SEND_SPARE = 32;

// Largest packet (header + payload as it travels) on a direct connection.
inline constexpr uint32_t PACKET_LIMIT_SERVER = 65553;
inline constexpr uint32_t PACKET_LIMIT_CLIENT = 65552;

enum PacketType : uint16_t {
    PT_RESULT = 0,
    PT_ECHO = 1,
    PT_CONNECT = 2,
    PT_AUTH = 3,
    PT_MAC = 4,
    PT_DISCONNECT = 5,
    PT_REQUEST = 6,
    PT_PROPERTY = 7,
    PT_IMAGE = 100, // 100 + image cipher index 0-8
};

inline constexpr uint32_t PF_COMPRESSED = 0x01; // payload deflated (zlib format)
inline constexpr uint32_t PF_ENCIPHERED = 0x02;
inline constexpr uint32_t PF_SENT_PLAIN = 0x04; // image cipher was unavailable
inline constexpr unsigned PF_SALT_SHIFT = 4;    // bits 4-9: salt index
inline constexpr uint32_t PF_SALT_MASK = 0x3F;

inline constexpr unsigned PacketSaltIndex(uint32_t flags) {
    return (flags >> PF_SALT_SHIFT) & PF_SALT_MASK;
}

struct PacketHeader {
    uint8_t magic[2] = {'Q', 'B'}; // written by senders, ignored by receivers
    uint8_t version_major = 1;     // likewise
    uint8_t version_minor = 2;     // likewise
    uint32_t length = 0;           // payload bytes as they travel
    uint16_t type = 0;
    uint16_t checksum = 0;
    uint32_t flags = 0;
};

// Reads / writes the 16 header bytes at p.
PacketHeader PacketHeaderRead(const uint8_t* p);
void PacketHeaderWrite(uint8_t* p, const PacketHeader& header);

// Offsets of the fields that the codec patches in place.
inline constexpr size_t PACKET_LENGTH_OFFSET = 4;
inline constexpr size_t PACKET_CHECKSUM_OFFSET = 10;
inline constexpr size_t PACKET_FLAGS_OFFSET = 12;

// The display name of a packet type for log lines ("未定義" when unknown).
const char* PacketTypeName(uint32_t type);

// CRC-16/X-25: reflected polynomial 0x1021, initial register 0xFFFF. The
// update works on the raw register; the check value is its complement.
inline constexpr uint16_t CRC16_X25_INIT = 0xFFFF;
uint16_t Crc16X25Update(uint16_t reg, const uint8_t* data, size_t n);
inline uint16_t Crc16X25(const uint8_t* data, size_t n) {
    return static_cast<uint16_t>(~Crc16X25Update(CRC16_X25_INIT, data, n));
}

// The checksum of a whole packet (n >= 16 bytes), computed as if its
// checksum field were zero, without changing the bytes.
uint16_t PacketChecksum(const uint8_t* packet, size_t n);

} // namespace brindle
