#include "protocol/image_cipher.h"
#include "protocol/salt_table.h"

#include "protocol_test_util.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

namespace brindle {
namespace {

ImageCipherState ReadyState(int nAlgorithm) {
    ImageCipherState state;
    state.nAlgorithm = nAlgorithm;
    EXPECT_EQ(ImageCipherSetUp(state), 0u) << ImageCipherName(nAlgorithm);
    return state;
}

// Enciphers n bytes with salt index `salt`, returning the bytes as they would travel.
std::vector<uint8_t> Encrypt(ImageCipherState& state, const std::vector<uint8_t>& plain,
                             unsigned salt) {
    std::vector<uint8_t> buffer = plain;
    buffer.resize(plain.size() + IMAGE_CIPHER_GROWTH);
    size_t n = plain.size();
    EXPECT_EQ(ImageCipherApply(state, CipherDirection::Encrypt, salt, buffer, n), 0u);
    buffer.resize(n);
    return buffer;
}

TEST(ImageCipher, NamesOfTheNineAlgorithms) {
    const char* expected[] = {"なし",         "トリプルDES",  "112ビット２キーDES",
                              "128ビットAES", "192ビットAES", "256ビットAES",
                              "DES",          "RC2ブロック",  "RC4"};
    for (int i = 0; i < IMAGE_CIPHER_COUNT; ++i)
        EXPECT_STREQ(ImageCipherName(i), expected[i]);
    EXPECT_STREQ(ImageCipherName(9), "不明");
    EXPECT_STREQ(ImageCipherName(-1), "不明");
}

TEST(ImageCipher, BlockCiphersPadToTheNextWholeBlock) {
    struct Case {
        int algorithm;
        size_t from1000;
        size_t from1008;
    };
    const Case cases[] = {
        {IMAGE_CIPHER_3DES, 1008, 1016},    {IMAGE_CIPHER_3DES_112, 1008, 1016},
        {IMAGE_CIPHER_AES_128, 1008, 1024}, {IMAGE_CIPHER_AES_192, 1008, 1024},
        {IMAGE_CIPHER_AES_256, 1008, 1024}, {IMAGE_CIPHER_DES, 1008, 1016},
        {IMAGE_CIPHER_RC2, 1008, 1016},     {IMAGE_CIPHER_RC4, 1000, 1008},
        {IMAGE_CIPHER_NONE, 1000, 1008},
    };
    for (const Case& c : cases) {
        ImageCipherState state = ReadyState(c.algorithm);
        for (size_t n : {size_t{1000}, size_t{1008}}) {
            std::vector<uint8_t> plain = test::NoiseBytes(n, 5);
            std::vector<uint8_t> cipher = Encrypt(state, plain, 17);
            EXPECT_EQ(cipher.size(), n == 1000 ? c.from1000 : c.from1008) << c.algorithm;
            if (c.algorithm != IMAGE_CIPHER_NONE) {
                EXPECT_NE(std::vector<uint8_t>(cipher.begin(), cipher.begin() + 64),
                          std::vector<uint8_t>(plain.begin(), plain.begin() + 64));
            }
            size_t m = cipher.size();
            ASSERT_EQ(ImageCipherApply(state, CipherDirection::Decrypt, 17, cipher, m), 0u);
            cipher.resize(m);
            EXPECT_EQ(cipher, plain) << c.algorithm;
        }
    }
}

TEST(ImageCipher, KeyFollowsTheSaltIndexOnly) {
    ImageCipherState sender = ReadyState(IMAGE_CIPHER_AES_256);
    ImageCipherState other = ReadyState(IMAGE_CIPHER_AES_256);
    std::vector<uint8_t> plain = test::NoiseBytes(200, 9);
    EXPECT_EQ(Encrypt(sender, plain, 3), Encrypt(other, plain, 3));
    EXPECT_NE(Encrypt(sender, plain, 3), Encrypt(sender, plain, 4));
}

// The key comes from MD5 of the product word, the placeholder text and the
// salt window; triple DES and AES take it through the 0x36/0x5C pads, the
// others take the hash's first bytes.
TEST(ImageCipher, KeyDerivationFollowsTheCryptDeriveKeyRule) {
    struct Case {
        int algorithm;
        const char* evpName;
        size_t keyLength;
        bool padRule;
    };
    const Case cases[] = {{IMAGE_CIPHER_AES_128, "AES-128-CBC", 16, true},
                          {IMAGE_CIPHER_3DES, "DES-EDE3-CBC", 24, true},
                          {IMAGE_CIPHER_RC4, "RC4", 16, false}};
    const unsigned salt = 42;
    std::string base = "Brindleshank<void>";
    base.append(reinterpret_cast<const char*>(SaltWindow(salt)), SALT_WINDOW);
    uint8_t hash[16];
    ASSERT_TRUE(CryptoMd5(reinterpret_cast<const uint8_t*>(base.data()), base.size(), hash));
    for (const Case& c : cases) {
        uint8_t key[32];
        if (c.padRule) {
            uint8_t inner[64], outer[64];
            for (int i = 0; i < 64; ++i) {
                inner[i] = static_cast<uint8_t>(0x36 ^ (i < 16 ? hash[i] : 0));
                outer[i] = static_cast<uint8_t>(0x5C ^ (i < 16 ? hash[i] : 0));
            }
            ASSERT_TRUE(CryptoMd5(inner, 64, key));
            ASSERT_TRUE(CryptoMd5(outer, 64, key + 16));
        } else {
            std::copy(hash, hash + 16, key);
        }
        EvpCipherPtr cipher = CryptoFetchCipher(c.evpName);
        if (!cipher)
            continue; // RC4 needs the legacy provider
        ASSERT_EQ(static_cast<size_t>(EVP_CIPHER_get_key_length(cipher.get())), c.keyLength);
        std::vector<uint8_t> plain = test::NoiseBytes(100, 1);
        std::vector<uint8_t> expected(plain.size() + 32);
        uint8_t iv[16] = {};
        int n1 = 0, n2 = 0;
        EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
        ASSERT_EQ(EVP_EncryptInit_ex2(ctx, cipher.get(), key, iv, nullptr), 1);
        ASSERT_EQ(EVP_EncryptUpdate(ctx, expected.data(), &n1, plain.data(), 100), 1);
        ASSERT_EQ(EVP_EncryptFinal_ex(ctx, expected.data() + n1, &n2), 1);
        EVP_CIPHER_CTX_free(ctx);
        expected.resize(static_cast<size_t>(n1 + n2));
        ImageCipherState state = ReadyState(c.algorithm);
        EXPECT_EQ(Encrypt(state, plain, salt), expected) << c.evpName;
    }
}

TEST(ImageCipher, RejectsWhatItCannotProcess) {
    ImageCipherState aes = ReadyState(IMAGE_CIPHER_AES_128);
    std::vector<uint8_t> buffer = test::NoiseBytes(64);
    const std::vector<uint8_t> original = buffer;

    size_t n = 48; // no room for the padding block
    EXPECT_EQ(ImageCipherApply(aes, CipherDirection::Encrypt, 0, std::span(buffer).first(60), n),
              NTE_BAD_LEN);
    EXPECT_EQ(buffer, original);
    n = 65; // more than the buffer
    EXPECT_EQ(ImageCipherApply(aes, CipherDirection::Encrypt, 0, buffer, n), NTE_BAD_LEN);
    n = 30; // not whole blocks
    EXPECT_EQ(ImageCipherApply(aes, CipherDirection::Decrypt, 0, buffer, n), NTE_BAD_DATA);
    n = 0;
    EXPECT_EQ(ImageCipherApply(aes, CipherDirection::Decrypt, 0, buffer, n), NTE_BAD_DATA);
    std::vector<uint8_t> damaged = Encrypt(aes, test::NoiseBytes(40), 0);
    std::fill(damaged.end() - 16, damaged.end(), 0); // the padding no longer checks out
    n = damaged.size();
    EXPECT_EQ(ImageCipherApply(aes, CipherDirection::Decrypt, 0, damaged, n), NTE_BAD_DATA);
    n = 16;
    EXPECT_NE(ImageCipherApply(aes, CipherDirection::Encrypt, 64, buffer, n), 0u);

    ImageCipherState released;
    released.nAlgorithm = IMAGE_CIPHER_AES_128;
    n = 16;
    EXPECT_EQ(ImageCipherApply(released, CipherDirection::Encrypt, 0, buffer, n),
              NTE_BAD_KEY_STATE);
    ImageCipherState unknown;
    unknown.nAlgorithm = 9;
    EXPECT_EQ(ImageCipherSetUp(unknown), NTE_BAD_ALGID);
    EXPECT_FALSE(unknown.fReady);
}

TEST(ImageCipher, IndexZeroIsReadyAndChangesNothing) {
    ImageCipherState state = ReadyState(IMAGE_CIPHER_NONE);
    EXPECT_TRUE(state.fReady);
    std::vector<uint8_t> plain = test::NoiseBytes(100);
    EXPECT_EQ(Encrypt(state, plain, 1), plain);
}

TEST(ImageCipher, SetUpGivesUpAfterAboutOneSecondWhenTheCipherIsMissing) {
    ManualClock clock;
    test::ClockSleeper sleeper(clock);
    ImageCipherState state;
    state.nAlgorithm = IMAGE_CIPHER_AES_128;
    state.hooks = {&clock, &sleeper, [](int) { return true; }};
    EXPECT_EQ(ImageCipherSetUp(state), NTE_PROV_TYPE_NOT_DEF);
    EXPECT_FALSE(state.fReady);
    EXPECT_FALSE(state.provider);
    EXPECT_EQ(sleeper.nSleptMs, 1000u);
    EXPECT_EQ(sleeper.nSleeps, 10);

    // Once the cipher can be had again, the next set-up succeeds.
    state.hooks.pfnDenyAcquire = nullptr;
    EXPECT_EQ(ImageCipherSetUp(state), 0u);
    EXPECT_TRUE(state.fReady);
    ImageCipherRelease(state);
    EXPECT_FALSE(state.fReady);
    EXPECT_EQ(state.nAlgorithm, IMAGE_CIPHER_AES_128);
}

} // namespace
} // namespace brindle
