// One HTTP/1.1 connection to a storage or login server, plain or TLS.
//
// The socket is non-blocking; every wait is a poll on the socket and on an
// optional wake descriptor, so another thread can abandon a request at once
// (HttpWake). Time limits run on an injectable clock.
//
// Failures are returned as codes: socket codes in the Windows numbering,
// ERR_TLS_* for TLS, ERR_NOT_HTTP for a broken answer, WSAETIMEDOUT_CODE for
// a time limit, ERR_RECV_STALLED and ERR_NO_RESPONSE for a connection that
// closed in the middle of an answer or before its first byte, and
// WSAEINTR_CODE when the wake descriptor was signalled.
#pragma once

#include "common/error_codes.h"
#include "common/unique_fd.h"
#include "platform/clock.h"
#include "storage/http_answer.h"
#include "storage/tls.h"

#include <cstdint>
#include <string>
#include <string_view>

struct ssl_st;

namespace brindle {

inline constexpr uint32_t ERR_RECV_STALLED = ERR_STORAGE_RECEIVE_ANOMALY; // closed mid-answer
inline constexpr uint32_t ERR_NO_RESPONSE = ERR_STORAGE_NO_ANSWER;        // closed before any byte

inline constexpr uint32_t HTTP_CONNECT_LIMIT_MS = 10000;
inline constexpr uint32_t HTTP_SEND_LIMIT_MS = 30000;
inline constexpr uint32_t HTTP_RECEIVE_LIMIT_MS = 30000; // when the caller gives none
inline constexpr uint32_t HTTP_RESOLVE_LIMIT_MS = 30000;
inline constexpr uint32_t HTTP_TIMEOUT_RAISE_MS =
    10000; // added to the caller's limit on a time-out
inline constexpr int HTTP_SOCKET_BUFFER = 89964;

// A descriptor that wakes every wait of the connections that use it.
class HttpWake {
  public:
    HttpWake();
    void Wake() const; // any thread; stays signalled until Reset
    void Reset() const;
    int Fd() const { return fd_.Get(); }

  private:
    UniqueFd fd_;
};

// Resolves `host` (an IPv4 literal at once, a name through the system's
// resolver within HTTP_RESOLVE_LIMIT_MS) to its first IPv4 address.
uint32_t ResolveHostIpv4(const std::string& host, uint32_t& nAddress);

class HttpConnection {
  public:
    explicit HttpConnection(const Clock& clock = SystemClock(), const HttpWake* wake = nullptr);
    ~HttpConnection();
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    // Connects to host:port (port 0: 443 for TLS kinds, 80 otherwise). For
    // kinds 1-5 the context slot is filled on demand and the handshake,
    // certificate check included, ends here: nothing of a request is sent to
    // a server that fails it (ERR_TLS_SSL, OpenSSL's reason in TlsFailure()
    // and in the log).
    uint32_t Open(const std::string& host, uint16_t nPort, int nKind, bool fAnyCert,
                  TlsContext& slot);
    void Close();
    bool IsOpen() const { return fd_.Valid(); }
    // The last answer allows another request on this connection.
    bool Reusable() const { return IsOpen() && fReusable_; }
    const std::string& TlsFailure() const { return tlsFailure_; }
    const Clock& GetClock() const { return clock_; }

    // Low-level steps of HttpSend and HttpReceive.
    uint32_t WaitFor(bool fWrite, uint32_t nStart, uint32_t nLimit, uint32_t nLimitCode);
    long Write(const char* p, size_t n, uint32_t& nError, bool& fWantRead);
    long Read(char* p, size_t n, uint32_t& nError, bool& fWantWrite);
    void SetReusable(bool fReusable) { fReusable_ = fReusable; }

  private:
    uint32_t Handshake(const std::string& host, bool fAnyCert);

    const Clock& clock_;
    const HttpWake* wake_;
    UniqueFd fd_;
    ssl_st* ssl_ = nullptr;
    bool fReusable_ = false;
    std::string tlsFailure_;
};

// Sends all bytes. Returns the number sent, or -1 with the code in nError
// (logged with the host).
long HttpSend(HttpConnection& connection, const char* pcHost, std::string_view bytes,
              uint32_t& nError);

// Reads one complete answer. Returns the bytes of header and decoded body,
// or -1 with the code in nError (logged with the host). pnLimit: the time
// limit in ms (HTTP_RECEIVE_LIMIT_MS when null); a time-out adds
// HTTP_TIMEOUT_RAISE_MS to it. pnEndTick receives the clock's tick at
// return. The connection is marked reusable only when the answer allows it.
long HttpReceive(HttpConnection& connection, const char* pcHost, HttpAnswer& answer,
                 uint32_t& nError, uint32_t* pnLimit = nullptr, uint32_t* pnEndTick = nullptr);

} // namespace brindle
