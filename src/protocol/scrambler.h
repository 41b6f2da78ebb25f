// The fixed-key scrambler: DES in output-feedback mode with 8-bit segments,
// keyed from the salt table. It enciphers every packet of a type below 100
// and the secrets that settings files hold.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace brindle {

// Bytes 0-7: DES key (parity ignored); bytes 8-15: initial register.
using KeyBlock = std::array<uint8_t, 16>;

// The first 16 bytes of salt entry nSaltIndex (0-63).
KeyBlock KeyBlockForPacket(unsigned nSaltIndex);

// The key block of a stored secret of n bytes: salt entry n AND 63.
KeyBlock KeyBlockForSecret(size_t n);

// Enciphers or deciphers `data` in place (the two are the same operation in
// output feedback; the length never changes). Needs no cipher library.
void ScrambleStream(std::span<uint8_t> data, const KeyBlock& keyBlock);

// A secret as stored: scrambled with KeyBlockForSecret(n), then two
// upper-case hexadecimal digits per byte.
std::string SecretToText(std::string_view secret);

// The reverse: n = (length of text) / 2 bytes (an odd last digit is
// ignored); upper- and lower-case digits read alike. Text that is not
// hexadecimal gives meaningless bytes, never an error.
std::string TextToSecret(std::string_view text);

// A password stored with the moment it was set: SecretToText(password) +
// "/" + the stamp (a FILETIME) in upper-case hexadecimal without leading
// zeros.
std::string StampedSecretToText(std::string_view secret, uint64_t nStamp);

// Reads the form above. Without "/" the stamp is 0; the part behind the
// first "/" is read as hexadecimal up to its first non-digit.
std::string TextToStampedSecret(std::string_view text, uint64_t& nStamp);

} // namespace brindle
