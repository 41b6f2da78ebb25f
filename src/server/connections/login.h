// The pieces of a client's log-in that work on bytes alone: the challenge,
// the digest that answers it, and the camera information text.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace brindle {

using LoginBlock = std::array<uint8_t, 16>;

// The product word that both programs put in front of the password.
inline constexpr char LOGIN_PRODUCT_WORD[] = "Brindleshank";

// The challenge: MD5 of the 8 little-endian bytes of a FILETIME.
LoginBlock LoginChallenge(uint64_t nFileTime);

// MD5 of the product word, the password and the 16-byte challenge.
LoginBlock LoginDigest(std::string_view password, const LoginBlock& challenge);

// The settings text without any line whose key is "Passwd" (in any letter
// case, with or without blanks around the key), wherever it stands: the
// first line, a middle line or a last line without a line end. Every other
// byte stays as it was.
std::string StripPasswordLines(std::string_view text);

// Reads the settings file and strips it. Returns 0, the system code of a
// failed read, ERR_INFO_EMPTY for an empty file.
uint32_t ReadCameraInformation(const std::string& path, std::string& text);

} // namespace brindle
