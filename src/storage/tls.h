// TLS for HTTPS storage accounts: OpenSSL 3, linked.
//
// A context belongs to one slot of one account (uploads, polls, sign-in
// exchanges) and is made on first use from the account's TLS kind:
//   0 or below  plain HTTP (no context)
//   1, 2        negotiate (the library's default versions)
//   3           TLS 1.0 only, at security level 0
//   4           TLS 1.1 only, at security level 0
//   5           TLS 1.2 only
// The server's certificate is verified against the system store (the
// SSL_CERT_FILE and SSL_CERT_DIR environment variables can name another)
// unless the account accepts any certificate.
#pragma once

#include "common/error_codes.h"

#include <cstdint>
#include <memory>

struct ssl_ctx_st;

namespace brindle {

inline constexpr uint32_t ERR_TLS_INIT = ERR_SSL_INIT; // no context for the kind
inline constexpr uint32_t ERR_TLS_BIO = ERR_SSL_BIO;
inline constexpr uint32_t ERR_TLS_SSL = ERR_SSL_NEW; // no SSL object, or the handshake failed
inline constexpr uint32_t ERR_TLS_SEND = ERR_SSL_SEND;

struct TlsContextFree {
    void operator()(ssl_ctx_st* context) const;
};
using TlsContext = std::unique_ptr<ssl_ctx_st, TlsContextFree>;

// Initialises the library once; true when TLS can be used. Any thread.
bool LoadTls();
// Nothing to release with a linked library; kept for the program's end.
void UnloadTls();

// Fills `slot` with a context for `nKind` (1-5) unless it holds one.
// Returns false for a kind outside 1-5 or when the library refuses.
bool CreateTlsContext(int nKind, bool fAnyCert, TlsContext& slot);

} // namespace brindle
