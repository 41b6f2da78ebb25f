#include "protocol/image_cipher.h"

#include "common/error_codes.h"
#include "platform/clock.h"
#include "protocol/salt_table.h"
#include "protocol/sleeper.h"

#include <cstring>
#include <openssl/crypto.h>
#include <openssl/evp.h>

namespace brindle {

namespace {

struct CipherInfo {
    const char* pcName;        // display name
    uint32_t nAlgId;           // CryptoAPI ALG_ID
    const char* pcOpenSslName; // null for "none"
    size_t nKeyLength;         // bytes
    bool fPadRule;             // key from the 0x36/0x5C pads (triple DES, AES)
};

const CipherInfo kCipherInfos[IMAGE_CIPHER_COUNT] = {
    {"なし", 0, nullptr, 0, false},
    {"トリプルDES", 0x6603, "DES-EDE3-CBC", 24, true},
    {"112ビット２キーDES", 0x6609, "DES-EDE-CBC", 16, true},
    {"128ビットAES", 0x660E, "AES-128-CBC", 16, true},
    {"192ビットAES", 0x660F, "AES-192-CBC", 24, true},
    {"256ビットAES", 0x6610, "AES-256-CBC", 32, true},
    {"DES", 0x6601, "DES-CBC", 8, false},
    {"RC2ブロック", 0x6602, "RC2-CBC", 16, false}, // 128 effective bits
    {"RC4", 0x6801, "RC4", 16, false},
};

// Hashed after the product word where a password text would go; neither
// program has one, so both use this fixed stand-in.
constexpr char kProductWord[] = "Brindleshank";
constexpr char kPasswordPlaceholder[] = "<void>";

constexpr uint32_t SET_UP_TIME_MS = 1000;
constexpr uint32_t SET_UP_RETRY_MS = 100;

const CipherInfo* FindInfo(int nAlgorithm) {
    if (nAlgorithm < 0 || nAlgorithm >= IMAGE_CIPHER_COUNT)
        return nullptr;
    return &kCipherInfos[nAlgorithm];
}

// Gets the cipher, retrying for about a second: a cipher may be missing
// only for a moment while the system is busy.
uint32_t AcquireCipher(ImageCipherState& state, const CipherInfo& info) {
    const ImageCipherHooks& hooks = state.hooks;
    const Clock& clock = hooks.pClock ? *hooks.pClock : SystemClock();
    const Sleeper& sleeper = hooks.pSleeper ? *hooks.pSleeper : SystemSleeper();
    uint32_t start = clock.Tick();
    for (;;) {
        if (!hooks.pfnDenyAcquire || !hooks.pfnDenyAcquire(state.nAlgorithm)) {
            state.provider = CryptoFetchCipher(info.pcOpenSslName);
            if (state.provider)
                return 0;
        }
        if (clock.Tick() - start >= SET_UP_TIME_MS)
            return NTE_PROV_TYPE_NOT_DEF;
        sleeper.Sleep(SET_UP_RETRY_MS);
    }
}

uint32_t HashBaseText(ImageCipherState& state) {
    state.baseHash = CryptoNewMd5();
    state.work.reset(EVP_CIPHER_CTX_new());
    if (!state.baseHash || !state.work)
        return NTE_NO_MEMORY;
    if (EVP_DigestUpdate(state.baseHash.get(), kProductWord, std::strlen(kProductWord)) != 1 ||
        EVP_DigestUpdate(state.baseHash.get(), kPasswordPlaceholder,
                         std::strlen(kPasswordPlaceholder)) != 1)
        return NTE_FAIL;
    return 0;
}

// The key of one packet: the base hash duplicated, the salt window hashed
// into the copy, the key derived from the result.
uint32_t DeriveKey(const ImageCipherState& state, const CipherInfo& info, unsigned nSaltIndex,
                   uint8_t* pKey) {
    EvpMdCtxPtr hash(EVP_MD_CTX_new());
    uint8_t digest[MD5_SIZE];
    if (!hash || EVP_MD_CTX_copy_ex(hash.get(), state.baseHash.get()) != 1 ||
        EVP_DigestUpdate(hash.get(), SaltWindow(nSaltIndex), SALT_WINDOW) != 1 ||
        EVP_DigestFinal_ex(hash.get(), digest, nullptr) != 1)
        return NTE_FAIL;
    bool fDerived = CryptoDeriveKey(digest, info.nKeyLength, info.fPadRule, pKey);
    OPENSSL_cleanse(digest, sizeof digest);
    return fDerived ? 0 : NTE_FAIL;
}

// The length checks that must pass before a byte is touched.
uint32_t CheckLengths(const ImageCipherState& state, CipherDirection direction,
                      std::span<uint8_t> buffer, size_t nLength) {
    if (nLength > buffer.size() || nLength > INT32_MAX - 64)
        return NTE_BAD_LEN;
    size_t block = static_cast<size_t>(EVP_CIPHER_get_block_size(state.provider.get()));
    if (block <= 1)
        return 0;
    if (direction == CipherDirection::Encrypt)
        return (nLength / block + 1) * block <= buffer.size() ? 0 : NTE_BAD_LEN;
    return (nLength != 0 && nLength % block == 0) ? 0 : NTE_BAD_DATA;
}

uint32_t RunCipher(ImageCipherState& state, CipherDirection direction, const uint8_t* pKey,
                   uint8_t* pData, size_t& nLength) {
    static const uint8_t kZeroIv[EVP_MAX_IV_LENGTH] = {};
    int enc = direction == CipherDirection::Encrypt ? 1 : 0;
    EVP_CIPHER_CTX* ctx = state.work.get();
    if (EVP_CipherInit_ex2(ctx, state.provider.get(), pKey, kZeroIv, enc, nullptr) != 1)
        return NTE_FAIL;
    int nUpdate = 0;
    int nFinal = 0;
    if (EVP_CipherUpdate(ctx, pData, &nUpdate, pData, static_cast<int>(nLength)) != 1)
        return enc ? NTE_FAIL : NTE_BAD_DATA;
    if (EVP_CipherFinal_ex(ctx, pData + nUpdate, &nFinal) != 1)
        return enc ? NTE_FAIL : NTE_BAD_DATA;
    nLength = static_cast<size_t>(nUpdate) + static_cast<size_t>(nFinal);
    return 0;
}

// What every use of a set-up state checks first; `info` receives the
// algorithm's entry.
uint32_t CheckUsable(const ImageCipherState& state, unsigned nSaltIndex, const CipherInfo*& info) {
    info = FindInfo(state.nAlgorithm);
    if (!info)
        return NTE_BAD_ALGID;
    if (!state.fReady || !state.provider || !state.baseHash || !state.work)
        return NTE_BAD_KEY_STATE;
    if (nSaltIndex >= SALT_ENTRIES)
        return ERROR_INVALID_PARAMETER_CODE;
    return 0;
}

} // namespace

uint32_t ImageCipherSetUp(ImageCipherState& state) {
    ImageCipherRelease(state);
    state.nAlgId = 0;
    if (state.nAlgorithm <= 0) {
        state.fReady = true;
        return 0;
    }
    const CipherInfo* info = FindInfo(state.nAlgorithm);
    if (!info)
        return NTE_BAD_ALGID;
    state.nAlgId = info->nAlgId;
    uint32_t err = AcquireCipher(state, *info);
    if (err == 0)
        err = HashBaseText(state);
    if (err != 0) {
        ImageCipherRelease(state);
        return err;
    }
    state.fReady = true;
    return 0;
}

void ImageCipherRelease(ImageCipherState& state) {
    state.work.reset();
    state.baseHash.reset();
    state.provider.reset();
    state.fReady = false;
}

uint32_t ImageCipherApply(ImageCipherState& state, CipherDirection direction, unsigned nSaltIndex,
                          std::span<uint8_t> buffer, size_t& nLength) {
    if (state.nAlgorithm <= 0)
        return 0;
    const CipherInfo* info = nullptr;
    if (uint32_t err = CheckUsable(state, nSaltIndex, info))
        return err;
    if (uint32_t err = CheckLengths(state, direction, buffer, nLength))
        return err;
    uint8_t key[32];
    uint32_t err = DeriveKey(state, *info, nSaltIndex, key);
    if (err == 0)
        err = RunCipher(state, direction, key, buffer.data(), nLength);
    OPENSSL_cleanse(key, sizeof key);
    return err;
}

namespace {

size_t TotalLength(std::span<const std::span<const uint8_t>> parts) {
    size_t n = 0;
    for (std::span<const uint8_t> part : parts)
        n += part.size();
    return n;
}

void CopyParts(std::span<const std::span<const uint8_t>> parts, uint8_t* pOut) {
    for (std::span<const uint8_t> part : parts) {
        if (!part.empty())
            std::memcpy(pOut, part.data(), part.size());
        pOut += part.size();
    }
}

// The cipher run over the parts in turn; the context keeps a partial block
// from one part to the next.
uint32_t RunCipherFrom(ImageCipherState& state, const uint8_t* pKey,
                       std::span<const std::span<const uint8_t>> parts, uint8_t* pOut,
                       size_t& nLength) {
    static const uint8_t kZeroIv[EVP_MAX_IV_LENGTH] = {};
    EVP_CIPHER_CTX* ctx = state.work.get();
    if (EVP_CipherInit_ex2(ctx, state.provider.get(), pKey, kZeroIv, 1, nullptr) != 1)
        return NTE_FAIL;
    size_t nOut = 0;
    for (std::span<const uint8_t> part : parts) {
        if (part.empty())
            continue;
        int nUpdate = 0;
        if (EVP_CipherUpdate(ctx, pOut + nOut, &nUpdate, part.data(),
                             static_cast<int>(part.size())) != 1)
            return NTE_FAIL;
        nOut += static_cast<size_t>(nUpdate);
    }
    int nFinal = 0;
    if (EVP_CipherFinal_ex(ctx, pOut + nOut, &nFinal) != 1)
        return NTE_FAIL;
    nLength = nOut + static_cast<size_t>(nFinal);
    return 0;
}

} // namespace

uint32_t ImageCipherEncryptFrom(ImageCipherState& state, unsigned nSaltIndex,
                                std::span<const std::span<const uint8_t>> parts,
                                std::span<uint8_t> out, size_t& nLength) {
    size_t nPlain = TotalLength(parts);
    if (state.nAlgorithm <= 0) {
        if (nPlain > out.size())
            return NTE_BAD_LEN;
        CopyParts(parts, out.data());
        nLength = nPlain;
        return 0;
    }
    const CipherInfo* info = nullptr;
    if (uint32_t err = CheckUsable(state, nSaltIndex, info))
        return err;
    if (uint32_t err = CheckLengths(state, CipherDirection::Encrypt, out, nPlain))
        return err;
    uint8_t key[32];
    uint32_t err = DeriveKey(state, *info, nSaltIndex, key);
    if (err == 0)
        err = RunCipherFrom(state, key, parts, out.data(), nLength);
    OPENSSL_cleanse(key, sizeof key);
    return err;
}

const char* ImageCipherName(int nAlgorithm) {
    const CipherInfo* info = FindInfo(nAlgorithm);
    return info ? info->pcName : "不明";
}

} // namespace brindle
