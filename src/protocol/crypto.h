// The few OpenSSL 3 primitives that the image cipher needs: MD5 with
// duplication, key derivation in the manner of CryptoAPI's CryptDeriveKey,
// and the symmetric ciphers. All fetches go through one library context
// that this layer owns, with the "default" and "legacy" providers loaded
// once per process; nothing here changes OpenSSL's global state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <openssl/types.h>

namespace brindle {

struct EvpCipherFree {
    void operator()(EVP_CIPHER* p) const;
};
struct EvpMdCtxFree {
    void operator()(EVP_MD_CTX* p) const;
};
struct EvpCipherCtxFree {
    void operator()(EVP_CIPHER_CTX* p) const;
};
using EvpCipherPtr = std::unique_ptr<EVP_CIPHER, EvpCipherFree>;
using EvpMdCtxPtr = std::unique_ptr<EVP_MD_CTX, EvpMdCtxFree>;
using EvpCipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, EvpCipherCtxFree>;

inline constexpr size_t MD5_SIZE = 16;

// The cipher of that OpenSSL name ("AES-128-CBC", "DES-CBC", ...), or null
// when no loaded provider offers it.
EvpCipherPtr CryptoFetchCipher(const char* pcName);

// A fresh MD5 context ready for updates, or null.
EvpMdCtxPtr CryptoNewMd5();

// How a key of nKeyLength bytes comes from a 16-byte MD5 value: the first
// bytes of the hash, or (fPadRule) the first bytes of
// MD5(0x36 pad XOR hash) || MD5(0x5C pad XOR hash) with 64-byte pads, the
// rule CryptoAPI applies to triple DES and AES. nKeyLength <= 32.
bool CryptoDeriveKey(const uint8_t hash[MD5_SIZE], size_t nKeyLength, bool fPadRule, uint8_t* pKey);

// MD5 of one buffer into out (16 bytes); false on a library failure.
bool CryptoMd5(const uint8_t* pData, size_t nLength, uint8_t* pOut);

} // namespace brindle
