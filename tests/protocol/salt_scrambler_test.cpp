#include "protocol/des.h"
#include "protocol/salt_table.h"
#include "protocol/scrambler.h"

#include "protocol_test_util.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

namespace brindle {
namespace {

uint64_t Hex64(const char* text) {
    return std::stoull(text, nullptr, 16);
}

TEST(SaltTable, GeneratorIsTheRuntimeRand) {
    // srand(1) followed by rand() gives 41, 18467, 6334, 26500, 19169 in the
    // C runtime that the table format comes from.
    SaltSeeds seeds{};
    seeds.fill(1);
    SaltTableBytes table = SaltTableBuild(seeds);
    const uint8_t expected[] = {41 & 0xFF, 18467 & 0xFF, 6334 & 0xFF, 26500 & 0xFF, 19169 & 0xFF};
    for (size_t i = 0; i < sizeof expected; ++i)
        EXPECT_EQ(table[i], expected[i]) << i;
}

TEST(SaltTable, LaterEntriesOverwriteTheOverlap) {
    static_assert(SALT_TABLE_SIZE == 1115);
    const SaltTableBytes& table = SaltTable();
    // Entry k keeps its first 16 bytes; the last entry keeps its whole window.
    for (size_t k = 0; k < SALT_ENTRIES; ++k) {
        RuntimeRand rand(kSaltSeeds[k]);
        size_t kept = k + 1 < SALT_ENTRIES ? SALT_STRIDE : SALT_WINDOW;
        for (size_t i = 0; i < kept; ++i)
            ASSERT_EQ(table[k * SALT_STRIDE + i], static_cast<uint8_t>(rand.Next()))
                << k << "/" << i;
    }
}

struct DesVector {
    const char* key;
    const char* plain;
    const char* cipher;
};

// Published known answers: the textbook example, FIPS 81's ECB example and
// entries of the NBS validation tables (variable plaintext, variable key,
// S-box tests).
const DesVector kDesVectors[] = {
    {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
    {"0E329232EA6D0D73", "8787878787878787", "0000000000000000"},
    {"0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
    {"0101010101010101", "8000000000000000", "95F8A5E5DD31D900"},
    {"0101010101010101", "0000000000000001", "166B40B44ABA4BD6"},
    {"8001010101010101", "0000000000000000", "95A8D72813DAA94D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "690F5B0D9A26939B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "7A389D10354BD271"},
};

TEST(Des, KnownAnswers) {
    for (const DesVector& v : kDesVectors) {
        uint8_t key[8];
        uint64_t k = Hex64(v.key);
        for (int i = 7; i >= 0; --i, k >>= 8)
            key[i] = static_cast<uint8_t>(k);
        EXPECT_EQ(DesEncryptBlock(DesSetKey(key), Hex64(v.plain)), Hex64(v.cipher)) << v.key;
    }
}

// Where OpenSSL's legacy provider is present, random keys and blocks must
// agree with its DES as well.
TEST(Des, AgreesWithOpenSslDes) {
    OSSL_LIB_CTX* libctx = OSSL_LIB_CTX_new();
    OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(libctx, "legacy");
    EVP_CIPHER* des = legacy ? EVP_CIPHER_fetch(libctx, "DES-ECB", nullptr) : nullptr;
    if (!des) {
        OSSL_LIB_CTX_free(libctx);
        GTEST_SKIP() << "no legacy provider";
    }
    std::vector<uint8_t> bytes = test::NoiseBytes(16 * 200, 7);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    for (size_t i = 0; i < bytes.size(); i += 16) {
        const uint8_t* key = &bytes[i];
        const uint8_t* block = &bytes[i + 8];
        uint8_t mine[8];
        uint8_t theirs[16];
        int n = 0;
        DesEncryptBlock(DesSetKey(key), block, mine);
        ASSERT_EQ(EVP_EncryptInit_ex2(ctx, des, key, nullptr, nullptr), 1);
        EVP_CIPHER_CTX_set_padding(ctx, 0);
        ASSERT_EQ(EVP_EncryptUpdate(ctx, theirs, &n, block, 8), 1);
        ASSERT_EQ(std::vector<uint8_t>(mine, mine + 8), std::vector<uint8_t>(theirs, theirs + 8));
    }
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(des);
    OSSL_PROVIDER_unload(legacy);
    OSSL_LIB_CTX_free(libctx);
}

TEST(ScrambleStream, IsOutputFeedbackWithByteSegments) {
    KeyBlock key = KeyBlockForPacket(9);
    std::vector<uint8_t> data = test::NoiseBytes(300, 3);
    std::vector<uint8_t> expected = data;
    DesKeySchedule schedule = DesSetKey(key.data());
    uint8_t reg[8];
    std::copy(key.begin() + 8, key.end(), reg);
    for (uint8_t& b : expected) {
        DesEncryptBlock(schedule, reg, reg);
        b ^= reg[0];
    }
    ScrambleStream(data, key);
    EXPECT_EQ(data, expected);
}

TEST(ScrambleStream, TwiceRestoresEveryLength) {
    for (size_t n : {0, 1, 7, 8, 63, 64, 65, 1000}) {
        std::vector<uint8_t> plain = test::NoiseBytes(n, static_cast<uint32_t>(n));
        std::vector<uint8_t> data = plain;
        ScrambleStream(data, KeyBlockForSecret(n));
        if (n >= 8) {
            EXPECT_NE(data, plain) << n;
        }
        ScrambleStream(data, KeyBlockForSecret(n));
        EXPECT_EQ(data, plain) << n;
    }
}

TEST(KeyBlocks, SecretLengthsThatDifferBy64ShareAKeyBlock) {
    EXPECT_EQ(KeyBlockForSecret(5), KeyBlockForSecret(69));
    EXPECT_EQ(KeyBlockForSecret(0), KeyBlockForSecret(128));
    EXPECT_NE(KeyBlockForSecret(5), KeyBlockForSecret(6));
    EXPECT_EQ(KeyBlockForSecret(5), KeyBlockForPacket(5));
    KeyBlock last = KeyBlockForPacket(63);
    EXPECT_TRUE(std::equal(last.begin(), last.end(), SaltTable().begin() + 63 * 16));
}

TEST(StoredSecret, RoundTripsAndReadsEitherCase) {
    for (std::string secret : {std::string(), std::string("a"), std::string("p@ss word"),
                               std::string(70, 'x'), std::string("\x01\xff\x00z", 4)}) {
        std::string text = SecretToText(secret);
        ASSERT_EQ(text.size(), secret.size() * 2);
        EXPECT_EQ(text.find_first_not_of("0123456789ABCDEF"), std::string::npos);
        EXPECT_EQ(TextToSecret(text), secret);
        std::string lower = text;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_EQ(TextToSecret(lower), secret);
        // An odd last digit is ignored.
        EXPECT_EQ(TextToSecret(text + "F"), secret);
    }
}

TEST(StoredSecret, ScrambledTextIsNotThePlainText) {
    EXPECT_NE(SecretToText("password"), "70617373776F7264");
}

TEST(StoredSecret, NonHexTextReadsWithoutFailing) {
    EXPECT_EQ(TextToSecret("zz!?").size(), 2u);
}

TEST(StampedSecret, WritesTheStampInUpperCaseHexWithoutLeadingZeros) {
    EXPECT_EQ(StampedSecretToText("", 0x01D9A2B3C4D5E6F7ull), "/1D9A2B3C4D5E6F7");
    EXPECT_EQ(StampedSecretToText("", 0), "/0");
    std::string text = StampedSecretToText("secret", 0xABCull);
    EXPECT_EQ(text.substr(text.size() - 4), "/ABC");
}

TEST(StampedSecret, Reads) {
    struct Case {
        std::string text;
        std::string secret;
        uint64_t stamp;
    };
    const Case cases[] = {
        {"/1D9A2B3C4D5E6F7", "", 0x1D9A2B3C4D5E6F7ull},
        {"/1d9a", "", 0x1D9A},
        {SecretToText("pw"), "pw", 0},
        {StampedSecretToText("pw", 0x123456789ull), "pw", 0x123456789ull},
        {"", "", 0},
    };
    for (const Case& c : cases) {
        uint64_t stamp = 99;
        EXPECT_EQ(TextToStampedSecret(c.text, stamp), c.secret) << c.text;
        EXPECT_EQ(stamp, c.stamp) << c.text;
    }
}

} // namespace
} // namespace brindle
