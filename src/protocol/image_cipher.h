// The image cipher: a per-connection cipher for image packets (types 100 to
// 108), one of eight symmetric algorithms chosen on the server. The key of a
// packet is derived from a base MD5 hash and the salt window that the packet
// names, so no key is ever exchanged.
#pragma once

#include "protocol/crypto.h"

#include <cstdint>
#include <span>

namespace brindle {

class Clock;
class Sleeper;

// Algorithm indexes; image packets carry type 100 + index.
enum ImageCipherAlgorithm : int {
    IMAGE_CIPHER_NONE = 0,
    IMAGE_CIPHER_3DES = 1,
    IMAGE_CIPHER_3DES_112 = 2,
    IMAGE_CIPHER_AES_128 = 3,
    IMAGE_CIPHER_AES_192 = 4,
    IMAGE_CIPHER_AES_256 = 5,
    IMAGE_CIPHER_DES = 6,
    IMAGE_CIPHER_RC2 = 7,
    IMAGE_CIPHER_RC4 = 8,
};
inline constexpr int IMAGE_CIPHER_COUNT = 9;

// Room that encipherment may add behind the data (a block cipher pads to the
// next whole block, a full block when the data is already a multiple).
inline constexpr size_t IMAGE_CIPHER_GROWTH = 32;

// The CryptoAPI codes that image cipher failures are reported with.
inline constexpr uint32_t NTE_BAD_LEN = 0x80090004;
inline constexpr uint32_t NTE_BAD_DATA = 0x80090005;
inline constexpr uint32_t NTE_BAD_ALGID = 0x80090008;
inline constexpr uint32_t NTE_BAD_KEY_STATE = 0x8009000B;
inline constexpr uint32_t NTE_NO_MEMORY = 0x8009000E;
inline constexpr uint32_t NTE_PROV_TYPE_NOT_DEF = 0x80090017; // the cipher cannot be had
inline constexpr uint32_t NTE_FAIL = 0x80090020;

// What set-up depends on beyond the cipher library: the clock and the pause
// of its retry loop, and a veto on acquiring the cipher for tests (a cipher
// that is missing cannot be caused on a machine that has it).
struct ImageCipherHooks {
    const Clock* pClock = nullptr;     // null: SystemClock()
    const Sleeper* pSleeper = nullptr; // null: SystemSleeper()
    bool (*pfnDenyAcquire)(int nAlgorithm) = nullptr;
};

// One connection's image cipher; used by that connection's thread only.
// A default-constructed state is released and not ready.
struct ImageCipherState {
    int nAlgorithm = 0;    // the index the state was set up for
    bool fReady = false;   // set-up succeeded (index 0 needs none)
    uint32_t nAlgId = 0;   // CryptoAPI ALG_ID of the index, for display
    EvpCipherPtr provider; // the fetched cipher
    EvpMdCtxPtr baseHash;  // MD5 of the product word and the placeholder text
    EvpCipherCtxPtr work;  // reused per packet; keyed afresh each time
    ImageCipherHooks hooks;
};

enum class CipherDirection { Encrypt, Decrypt };

// Sets the state up for state.nAlgorithm. Index 0 is ready at once. When the
// cipher cannot be had, retries every 100 ms for about 1,000 ms, then fails.
// Returns 0 or a code; on failure the state is released and not ready.
uint32_t ImageCipherSetUp(ImageCipherState& state);

// Drops the cipher and the base hash and clears fReady (keeps nAlgorithm and
// the hooks).
void ImageCipherRelease(ImageCipherState& state);

// Enciphers or deciphers the first nLength bytes of `buffer` in place with
// the key of salt index nSaltIndex (0-63). Encrypting needs the padded length
// to fit in `buffer` (IMAGE_CIPHER_GROWTH spare bytes always suffice).
// nLength becomes the new length. With an algorithm of 0 or less nothing
// changes. Returns 0 or a code. Lengths, salt index and key are checked
// before any byte changes; a decryption that fails on the padding leaves the
// bytes undefined.
uint32_t ImageCipherApply(ImageCipherState& state, CipherDirection direction, unsigned nSaltIndex,
                          std::span<uint8_t> buffer, size_t& nLength);

// Enciphers the bytes of `parts`, taken one after the other, into `out`:
// the same bytes as ImageCipherApply would make of them in place, without
// copying them together first. `out` must not overlap the parts and needs
// room for the padded length (IMAGE_CIPHER_GROWTH spare bytes always
// suffice). nLength receives the ciphertext length. With an algorithm of 0
// or less the parts are copied as they are. Returns 0 or a code; on failure
// `out` is undefined.
uint32_t ImageCipherEncryptFrom(ImageCipherState& state, unsigned nSaltIndex,
                                std::span<const std::span<const uint8_t>> parts,
                                std::span<uint8_t> out, size_t& nLength);

// The display name of an algorithm index ("不明" for an unknown one).
const char* ImageCipherName(int nAlgorithm);

} // namespace brindle
