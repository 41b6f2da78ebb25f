// Received bytes that are damaged or hostile: decoding refuses them with a
// code and never touches memory outside the buffers it was given.
#include "common/error_codes.h"
#include "protocol/packet_codec.h"

#include "protocol_test_util.h"

#include <gtest/gtest.h>

namespace brindle {
namespace {

struct Decoded {
    uint32_t err = 0;
    bool fInflated = false;
    std::vector<uint8_t> inflated;
};

Decoded Decode(std::vector<uint8_t> wire, InflateLimit limit = {}) {
    ImageCipherState cipher;
    Decoded d;
    d.err = DecodePacket(cipher, wire, limit, d.inflated, d.fInflated);
    return d;
}

std::vector<uint8_t> Repeat(uint8_t byte, size_t n) {
    return std::vector<uint8_t>(n, byte);
}

TEST(DecodePacket, RefusesDamagedCompressedPayloads) {
    std::vector<uint8_t> text = test::TextBytes(4000);
    std::vector<uint8_t> deflated = test::Deflated(text);
    std::vector<uint8_t> truncated(deflated.begin(), deflated.end() - 10);
    std::vector<uint8_t> trailing = deflated;
    trailing.push_back(0);
    std::vector<uint8_t> corrupt = deflated;
    corrupt[0] = 0x00; // not a zlib header

    struct Case {
        const char* what;
        std::vector<uint8_t> payload;
        uint32_t err;
    };
    const Case cases[] = {
        {"truncated stream", truncated, ERR_INFLATE_BUFFER},
        {"bytes behind the stream", trailing, ERR_INFLATE_DATA},
        {"bad zlib header", corrupt, ERR_INFLATE_DATA},
        {"empty", {}, ERR_INFLATE_BUFFER},
        {"just over 65,536 bytes", test::Deflated(Repeat('a', 65537)), ERROR_BUFFER_OVERFLOW_CODE},
        {"within the slack", test::Deflated(Repeat('a', 65536 + 1024)), ERROR_BUFFER_OVERFLOW_CODE},
        {"a bomb", test::Deflated(Repeat('a', 4 << 20)), ERR_INFLATE_BUFFER},
    };
    for (const Case& c : cases) {
        Decoded d = Decode(test::WirePacket(PT_CONNECT, PF_COMPRESSED, c.payload));
        EXPECT_EQ(d.err, c.err) << c.what;
        EXPECT_LE(d.inflated.size(), PACKET_BUFFER_SIZE) << c.what;
    }
    Decoded exact =
        Decode(test::WirePacket(PT_CONNECT, PF_COMPRESSED, test::Deflated(Repeat('a', 65536))));
    EXPECT_EQ(exact.err, 0u);
    EXPECT_TRUE(exact.fInflated);
    EXPECT_EQ(PacketHeaderRead(exact.inflated.data()).length, 65536u);
}

TEST(DecodePacket, RefusesLengthsThatDisagreeWithTheBytes) {
    std::vector<uint8_t> wire = test::WirePacket(PT_ECHO, 0, {1, 2, 3});
    EXPECT_EQ(Decode({wire.begin(), wire.begin() + 15}).err, ERR_RELAY_LENGTH);
    EXPECT_EQ(Decode({wire.begin(), wire.end() - 1}).err, ERR_RELAY_LENGTH);
    wire.push_back(0);
    EXPECT_EQ(Decode(wire).err, ERR_RELAY_LENGTH);
}

TEST(DecodePacket, RefusesBadCipherInput) {
    struct Case {
        const char* what;
        uint16_t type;
        size_t length;
        uint32_t err;
    };
    const Case cases[] = {
        {"AES, not whole blocks", PT_IMAGE + 3, 1001, NTE_BAD_DATA},
        {"AES, no block at all", PT_IMAGE + 3, 0, NTE_BAD_DATA},
        {"DES, not whole blocks", PT_IMAGE + 6, 12, NTE_BAD_DATA},
        {"AES, padding wrong", PT_IMAGE + 3, 64, NTE_BAD_DATA},
        {"no such algorithm", PT_IMAGE + 9, 64, NTE_BAD_ALGID},
        {"far beyond the image types", 0xFFFF, 64, NTE_BAD_ALGID},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> payload = test::NoiseBytes(c.length, 4);
        if (c.length == 64)
            std::fill(payload.end() - 16, payload.end(), 0);
        Decoded d = Decode(test::WirePacket(c.type, PF_ENCIPHERED | (7u << 4), payload));
        EXPECT_EQ(d.err, c.err) << c.what;
    }
}

TEST(DecodePacket, RelayedSizeMustBeBelievable) {
    std::vector<uint8_t> wire =
        test::WirePacket(PT_CONNECT, PF_COMPRESSED, test::Deflated(test::TextBytes(500)));
    // Announcing far more than deflate can produce from these bytes is
    // refused before anything is allocated.
    Decoded d = Decode(wire, {size_t{1} << 31, true});
    EXPECT_EQ(d.err, ERR_INFLATE_DATA);
    EXPECT_TRUE(d.inflated.empty());
    d = Decode(wire, {500, true});
    EXPECT_EQ(d.err, 0u);
    EXPECT_EQ(PacketHeaderRead(d.inflated.data()).length, 500u);
}

} // namespace
} // namespace brindle
