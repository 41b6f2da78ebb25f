#include "common/base64.h"
#include "common/error_codes.h"
#include "common/error_text.h"
#include "common/md5.h"
#include "common/os_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace brindle {
namespace {

TEST(Md5, Rfc1321TestSuite) {
    const std::pair<std::string, const char*> cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [text, hex] : cases)
        EXPECT_EQ(Md5HexOf(text), hex) << text;
}

TEST(Md5, PiecewiseUpdatesAndCopiedContextsAgree) {
    std::string bytes(1000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7 + 3);
    const std::string whole = Md5HexOf(bytes);
    for (size_t piece : {1, 55, 56, 63, 64, 65, 999}) {
        Md5Context context;
        Md5Init(context);
        for (size_t at = 0; at < bytes.size(); at += piece)
            Md5Update(context, bytes.data() + at, std::min(piece, bytes.size() - at));
        uint8_t digest[MD5_DIGEST_SIZE];
        Md5Final(context, digest);
        char hex[33];
        for (int i = 0; i < 16; ++i)
            std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
        EXPECT_EQ(hex, whole) << "pieces of " << piece;
    }
    // A copy of the state is a duplicate of the hash.
    Md5Context prefix;
    Md5Init(prefix);
    Md5Update(prefix, "QB", 2);
    Md5Context copy = prefix;
    Md5Update(copy, "x", 1);
    uint8_t a[16], b[16];
    Md5Final(copy, a);
    Md5Update(prefix, "x", 1);
    Md5Final(prefix, b);
    EXPECT_EQ(0, std::memcmp(a, b, 16));
}

TEST(Md5, HexOfFormattedTextIsCappedAt32767Bytes) {
    EXPECT_EQ(Md5Hex("%s:%s:%08x", "user", "realm", 1u), Md5HexOf("user:realm:00000001"));
    const std::string huge(40000, 'a');
    EXPECT_EQ(Md5Hex("%s", huge.c_str()), Md5HexOf(huge.substr(0, 32767)));
}

TEST(Base64, Rfc4648VectorsBothWays) {
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, encoded] : cases) {
        EXPECT_EQ(Base64Encode(plain), encoded);
        std::string decoded;
        EXPECT_EQ(Base64Decode(encoded, decoded), 0u);
        EXPECT_EQ(decoded, plain);
    }
    std::string all(256, '\0');
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<char>(i);
    std::string back;
    ASSERT_EQ(Base64Decode(Base64Encode(all), back), 0u);
    EXPECT_EQ(back, all);
}

TEST(Base64, RejectsMalformedText) {
    for (const char* bad : {"Zg=", "Z===", "====", "Zm9v!A==", "Zg==Zg==", "Zm 9", "Zg=a"}) {
        std::string bytes = "stale";
        EXPECT_EQ(Base64Decode(bad, bytes), ERROR_INVALID_PARAMETER_CODE) << bad;
        EXPECT_TRUE(bytes.empty()) << bad;
    }
}

TEST(ErrorText, OwnSystemAndPassedThroughCodes) {
    const std::pair<uint32_t, const char*> cases[] = {
        {ERR_STORAGE_NEGATIVE, "オンラインストレージ否定応答受信"},
        {0x20000001, "クライアントからの不正な要求"},
        {0x200000FF, "不明なエラー"},
        {MapErrno(ECONNREFUSED), "接続先のコンピューターによって接続が拒否されました。"},
        {MapErrno(ETIMEDOUT), "接続先が一定時間内に応答しなかったため、接続できませんでした。"},
        {ERROR_CONNECTION_CLOSED_CODE, "ネットワーク接続は相手によって閉じられました。"},
        {MapErrno(EROFS), "Read-only file system"}, // no Windows counterpart: strerror
    };
    for (const auto& [code, text] : cases)
        EXPECT_EQ(ErrorText(code), text) << std::hex << code;
    for (uint32_t code : {0u, 2u, 5u, 8u, 23u, 87u, 10035u, 10054u, 10060u, 11001u}) {
        std::string text = ErrorText(code);
        EXPECT_FALSE(text.empty()) << code;
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << code;
    }
}

} // namespace
} // namespace brindle
