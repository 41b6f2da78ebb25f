// MD5 (RFC 1321). Used for log-in digests and HTTP Digest authentication,
// not for security against a determined attacker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace brindle {

inline constexpr size_t MD5_DIGEST_SIZE = 16;

// The running state of one digest. A plain value: copying it duplicates the
// hash, so a common prefix can be hashed once and finished several ways.
struct Md5Context {
    uint32_t state[4];
    uint64_t nBytes;
    uint8_t buffer[64];
};

void Md5Init(Md5Context& context);
void Md5Update(Md5Context& context, const void* data, size_t size);
// Writes the 16-byte digest; the context must be initialised again before reuse.
void Md5Final(Md5Context& context, uint8_t digest[MD5_DIGEST_SIZE]);

// The 32 lower-case hexadecimal digits of the digest of `bytes`.
std::string Md5HexOf(std::string_view bytes);

// The 32 lower-case hexadecimal digits of the digest of the printf-formatted
// text; text beyond 32,767 bytes is not hashed.
std::string Md5Hex(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace brindle
