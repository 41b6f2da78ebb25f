#include "storage/tls.h"

#include <openssl/ssl.h>

namespace brindle {

void TlsContextFree::operator()(ssl_ctx_st* context) const {
    SSL_CTX_free(context);
}

bool LoadTls() {
    static const bool fLoaded = OPENSSL_init_ssl(0, nullptr) == 1;
    return fLoaded;
}

void UnloadTls() {}

namespace {

bool SetVersions(SSL_CTX* context, int nKind) {
    switch (nKind) {
    case 1:
    case 2:
        return true;
    case 3:
    case 4: {
        // The old versions need the weak ciphers they were made with; the
        // low security level is for these two kinds only.
        int nVersion = nKind == 3 ? TLS1_VERSION : TLS1_1_VERSION;
        SSL_CTX_set_security_level(context, 0);
        return SSL_CTX_set_min_proto_version(context, nVersion) == 1 &&
               SSL_CTX_set_max_proto_version(context, nVersion) == 1;
    }
    case 5:
        return SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) == 1 &&
               SSL_CTX_set_max_proto_version(context, TLS1_2_VERSION) == 1;
    default:
        return false;
    }
}

} // namespace

bool CreateTlsContext(int nKind, bool fAnyCert, TlsContext& slot) {
    if (slot)
        return true;
    if (nKind < 1 || nKind > 5 || !LoadTls())
        return false;
    TlsContext context(SSL_CTX_new(TLS_client_method()));
    if (!context || !SetVersions(context.get(), nKind))
        return false;
    if (!fAnyCert) {
        if (SSL_CTX_set_default_verify_paths(context.get()) != 1)
            return false;
        SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
    } else {
        SSL_CTX_set_verify(context.get(), SSL_VERIFY_NONE, nullptr);
    }
    // Writes of a non-blocking socket are retried from a buffer that may
    // move between attempts.
    SSL_CTX_set_mode(context.get(), SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER | SSL_MODE_AUTO_RETRY);
    slot = std::move(context);
    return true;
}

} // namespace brindle
