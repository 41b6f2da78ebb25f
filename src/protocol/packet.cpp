#include "protocol/packet.h"

#include "common/little_endian.h"

#include <array>

namespace brindle {

namespace {

// Built from the reversed polynomial 0x8408; compile-time constants, so they
// exist before the first connection. Table k advances a byte through k + 1
// byte steps, which lets the update take eight bytes at a time with the same
// result as the byte-wise rule reg = (reg >> 8) ^ table[(reg ^ byte) & 0xFF].
using CrcTables = std::array<std::array<uint16_t, 256>, 8>;

constexpr CrcTables BuildCrcTables() {
    CrcTables tables{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t reg = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 1) ? static_cast<uint16_t>((reg >> 1) ^ 0x8408) : (reg >> 1);
        tables[0][i] = reg;
    }
    for (size_t k = 1; k < tables.size(); ++k) {
        for (unsigned i = 0; i < 256; ++i) {
            uint16_t prev = tables[k - 1][i];
            tables[k][i] = static_cast<uint16_t>((prev >> 8) ^ tables[0][prev & 0xFF]);
        }
    }
    return tables;
}

constexpr CrcTables kCrc = BuildCrcTables();

} // namespace

PacketHeader PacketHeaderRead(const uint8_t* p) {
    PacketHeader header;
    header.magic[0] = p[0];
    header.magic[1] = p[1];
    header.version_major = p[2];
    header.version_minor = p[3];
    header.length = LoadLe32(p + 4);
    header.type = LoadLe16(p + 8);
    header.checksum = LoadLe16(p + 10);
    header.flags = LoadLe32(p + 12);
    return header;
}

void PacketHeaderWrite(uint8_t* p, const PacketHeader& header) {
    p[0] = header.magic[0];
    p[1] = header.magic[1];
    p[2] = header.version_major;
    p[3] = header.version_minor;
    StoreLe32(p + 4, header.length);
    StoreLe16(p + 8, header.type);
    StoreLe16(p + 10, header.checksum);
    StoreLe32(p + 12, header.flags);
}

const char* PacketTypeName(uint32_t type) {
    switch (type) {
    case PT_RESULT:
        return "結果";
    case PT_ECHO:
        return "エコー";
    case PT_CONNECT:
        return "接続";
    case PT_AUTH:
        return "認証";
    case PT_MAC:
        return "MAC";
    case PT_DISCONNECT:
        return "切断";
    case PT_REQUEST:
        return "要求";
    case PT_PROPERTY:
        return "プロパティ";
    default:
        break;
    }
    if (type >= PT_IMAGE && type <= PT_IMAGE + 8)
        return "画像";
    return "未定義";
}

uint16_t Crc16X25Update(uint16_t reg, const uint8_t* data, size_t n) {
    for (; n >= 8; n -= 8, data += 8) {
        uint8_t b0 = static_cast<uint8_t>(data[0] ^ reg);
        uint8_t b1 = static_cast<uint8_t>(data[1] ^ (reg >> 8));
        reg = kCrc[7][b0] ^ kCrc[6][b1] ^ kCrc[5][data[2]] ^ kCrc[4][data[3]] ^ kCrc[3][data[4]] ^
              kCrc[2][data[5]] ^ kCrc[1][data[6]] ^ kCrc[0][data[7]];
    }
    for (size_t i = 0; i < n; ++i)
        reg = static_cast<uint16_t>((reg >> 8) ^ kCrc[0][(reg ^ data[i]) & 0xFF]);
    return reg;
}

uint16_t PacketChecksum(const uint8_t* packet, size_t n) {
    static const uint8_t kZero[2] = {0, 0};
    uint16_t reg = Crc16X25Update(CRC16_X25_INIT, packet, PACKET_CHECKSUM_OFFSET);
    reg = Crc16X25Update(reg, kZero, sizeof kZero);
    size_t rest = PACKET_CHECKSUM_OFFSET + 2;
    reg = Crc16X25Update(reg, packet + rest, n - rest);
    return static_cast<uint16_t>(~reg);
}

} // namespace brindle
