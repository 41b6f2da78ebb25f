#include "common/md5.h"

#include "common/little_endian.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace brindle {

namespace {

constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

constexpr unsigned kShift[4][4] = {
    {7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

uint32_t RotateLeft(uint32_t x, unsigned n) {
    return (x << n) | (x >> (32 - n));
}

void Transform(uint32_t state[4], const uint8_t block[64]) {
    uint32_t m[16];
    for (int i = 0; i < 16; ++i)
        m[i] = LoadLe32(block + i * 4);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (unsigned i = 0; i < 64; ++i) {
        unsigned round = i / 16;
        uint32_t f;
        unsigned g;
        if (round == 0) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (round == 1) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
        } else if (round == 2) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        uint32_t next = b + RotateLeft(a + f + kSine[i] + m[g], kShift[round][i % 4]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

std::string ToHex(const uint8_t digest[MD5_DIGEST_SIZE]) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex(2 * MD5_DIGEST_SIZE, '0');
    for (size_t i = 0; i < MD5_DIGEST_SIZE; ++i) {
        hex[2 * i] = kDigits[digest[i] >> 4];
        hex[2 * i + 1] = kDigits[digest[i] & 15];
    }
    return hex;
}

} // namespace

void Md5Init(Md5Context& context) {
    context.state[0] = 0x67452301;
    context.state[1] = 0xefcdab89;
    context.state[2] = 0x98badcfe;
    context.state[3] = 0x10325476;
    context.nBytes = 0;
}

void Md5Update(Md5Context& context, const void* data, size_t size) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    size_t used = context.nBytes % 64;
    context.nBytes += size;
    if (used > 0) {
        size_t take = size < 64 - used ? size : 64 - used;
        std::memcpy(context.buffer + used, bytes, take);
        bytes += take;
        size -= take;
        if (used + take < 64)
            return;
        Transform(context.state, context.buffer);
    }
    for (; size >= 64; bytes += 64, size -= 64)
        Transform(context.state, bytes);
    if (size > 0)
        std::memcpy(context.buffer, bytes, size);
}

void Md5Final(Md5Context& context, uint8_t digest[MD5_DIGEST_SIZE]) {
    uint64_t bits = context.nBytes * 8;
    static const uint8_t kPadding[64] = {0x80};
    size_t used = context.nBytes % 64;
    Md5Update(context, kPadding, used < 56 ? 56 - used : 120 - used);
    uint8_t length[8];
    StoreLe64(length, bits);
    Md5Update(context, length, sizeof length);
    for (int i = 0; i < 4; ++i)
        StoreLe32(digest + 4 * i, context.state[i]);
}

std::string Md5HexOf(std::string_view bytes) {
    Md5Context context;
    Md5Init(context);
    Md5Update(context, bytes.data(), bytes.size());
    uint8_t digest[MD5_DIGEST_SIZE];
    Md5Final(context, digest);
    return ToHex(digest);
}

std::string Md5Hex(const char* format, ...) {
    char text[32768];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (length < 0)
        length = 0;
    size_t size =
        static_cast<size_t>(length) < sizeof text ? static_cast<size_t>(length) : sizeof text - 1;
    return Md5HexOf(std::string_view(text, size));
}

} // namespace brindle
