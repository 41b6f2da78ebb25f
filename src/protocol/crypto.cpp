#include "protocol/crypto.h"

#include <cstring>
#include <openssl/evp.h>
#include <openssl/provider.h>

namespace brindle {

void EvpCipherFree::operator()(EVP_CIPHER* p) const {
    EVP_CIPHER_free(p);
}
void EvpMdCtxFree::operator()(EVP_MD_CTX* p) const {
    EVP_MD_CTX_free(p);
}
void EvpCipherCtxFree::operator()(EVP_CIPHER_CTX* p) const {
    EVP_CIPHER_CTX_free(p);
}

namespace {

// One library context for the whole process, with "default" (MD5, AES,
// triple DES) and "legacy" (DES, RC2, RC4). A missing legacy module leaves
// those three unavailable; the rest works. Never destroyed: ciphers fetched
// from it may be held by objects that outlive static destruction.
class CryptoContext {
  public:
    CryptoContext() {
        libctx_ = OSSL_LIB_CTX_new();
        if (!libctx_)
            return;
        defaultProvider_ = OSSL_PROVIDER_load(libctx_, "default");
        legacyProvider_ = OSSL_PROVIDER_load(libctx_, "legacy");
        md5_ = EVP_MD_fetch(libctx_, "MD5", nullptr);
    }
    CryptoContext(const CryptoContext&) = delete;
    CryptoContext& operator=(const CryptoContext&) = delete;

    OSSL_LIB_CTX* LibraryContext() const { return libctx_; }
    const EVP_MD* Md5() const { return md5_; }

  private:
    OSSL_LIB_CTX* libctx_ = nullptr;
    OSSL_PROVIDER* defaultProvider_ = nullptr;
    OSSL_PROVIDER* legacyProvider_ = nullptr;
    EVP_MD* md5_ = nullptr;
};

const CryptoContext& Context() {
    static const CryptoContext* context = new CryptoContext;
    return *context;
}

} // namespace

EvpCipherPtr CryptoFetchCipher(const char* pcName) {
    const CryptoContext& context = Context();
    if (!context.LibraryContext())
        return nullptr;
    return EvpCipherPtr(EVP_CIPHER_fetch(context.LibraryContext(), pcName, nullptr));
}

EvpMdCtxPtr CryptoNewMd5() {
    const CryptoContext& context = Context();
    if (!context.Md5())
        return nullptr;
    EvpMdCtxPtr ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex2(ctx.get(), context.Md5(), nullptr) != 1)
        return nullptr;
    return ctx;
}

bool CryptoMd5(const uint8_t* pData, size_t nLength, uint8_t* pOut) {
    EvpMdCtxPtr ctx = CryptoNewMd5();
    return ctx && EVP_DigestUpdate(ctx.get(), pData, nLength) == 1 &&
           EVP_DigestFinal_ex(ctx.get(), pOut, nullptr) == 1;
}

bool CryptoDeriveKey(const uint8_t hash[MD5_SIZE], size_t nKeyLength, bool fPadRule,
                     uint8_t* pKey) {
    if (nKeyLength > 2 * MD5_SIZE || (!fPadRule && nKeyLength > MD5_SIZE))
        return false;
    if (!fPadRule) {
        std::memcpy(pKey, hash, nKeyLength);
        return true;
    }
    uint8_t inner[64];
    uint8_t outer[64];
    std::memset(inner, 0x36, sizeof inner);
    std::memset(outer, 0x5C, sizeof outer);
    for (size_t i = 0; i < MD5_SIZE; ++i) {
        inner[i] ^= hash[i];
        outer[i] ^= hash[i];
    }
    uint8_t both[2 * MD5_SIZE];
    if (!CryptoMd5(inner, sizeof inner, both) || !CryptoMd5(outer, sizeof outer, both + MD5_SIZE))
        return false;
    std::memcpy(pKey, both, nKeyLength);
    return true;
}

} // namespace brindle
