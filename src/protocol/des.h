// DES (FIPS 46) block encryption, written here so that the control-packet
// stream and the stored secrets never depend on a cipher library's optional
// parts (OpenSSL keeps single DES in its "legacy" provider).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace brindle {

// The 16 round keys, each as eight 6-bit groups (S-box 1 first).
struct DesKeySchedule {
    std::array<std::array<uint8_t, 8>, 16> round{};
};

// Computes the encryption schedule of an 8-byte key (parity bits ignored).
DesKeySchedule DesSetKey(const uint8_t key[8]);

// Encrypts one 64-bit block, first byte of the block in the high bits.
uint64_t DesEncryptBlock(const DesKeySchedule& schedule, uint64_t block);

// The same as bytes: 8 in, 8 out (may be the same memory).
void DesEncryptBlock(const DesKeySchedule& schedule, const uint8_t in[8], uint8_t out[8]);

// DES in output-feedback mode with 8-bit segments: per byte, the register is
// replaced by its encryption and the byte is XORed with the first byte of the
// result. Generates `n` bytes of key stream XORed into `data`.
void DesOfb8(const DesKeySchedule& schedule, uint64_t registerValue, uint8_t* data, size_t n);

} // namespace brindle
