#include "storage/http_connection.h"

#include "common/error_text.h"
#include "common/log.h"
#include "common/os_error.h"
#include "common/text_utils.h"
#include "storage/http_text.h"

#include <arpa/inet.h>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>

namespace brindle {

namespace {

// Waits are cut into slices so that an injected clock is looked at often.
constexpr int POLL_SLICE_MS = 100;
constexpr size_t READ_PIECE = 64 * 1024;

uint32_t ResolverCode(int nGai) {
    switch (nGai) {
    case EAI_AGAIN:
        return WSATRY_AGAIN_CODE;
    case EAI_NODATA:
        return WSANO_DATA_CODE;
    case EAI_SYSTEM:
        return LastOsError();
    default:
        return WSAHOST_NOT_FOUND_CODE;
    }
}

bool IsIpLiteral(const std::string& host) {
    in6_addr a6;
    in_addr a4;
    return inet_pton(AF_INET, host.c_str(), &a4) == 1 ||
           inet_pton(AF_INET6, host.c_str(), &a6) == 1;
}

std::string OpenSslReason(ssl_st* ssl) {
    long nVerify = ssl ? SSL_get_verify_result(ssl) : X509_V_OK;
    if (nVerify != X509_V_OK)
        return X509_verify_cert_error_string(nVerify);
    unsigned long e = ERR_peek_last_error();
    char text[256] = "";
    if (e != 0)
        ERR_error_string_n(e, text, sizeof text);
    ERR_clear_error();
    return text[0] ? text : "handshake failed";
}

} // namespace

HttpWake::HttpWake() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void HttpWake::Wake() const {
    uint64_t one = 1;
    ssize_t n = ::write(fd_.Get(), &one, sizeof one);
    (void)n;
}

void HttpWake::Reset() const {
    uint64_t value = 0;
    ssize_t n = ::read(fd_.Get(), &value, sizeof value);
    (void)n;
}

uint32_t ResolveHostIpv4(const std::string& host, uint32_t& nAddress) {
    in_addr a4;
    if (inet_pton(AF_INET, host.c_str(), &a4) == 1) {
        nAddress = a4.s_addr;
        return 0;
    }
    // The resolver has no time limit of its own: it runs on a thread of its
    // own, which outlives a caller that stops waiting.
    struct Lookup {
        std::mutex lock;
        std::condition_variable done;
        bool fDone = false;
        uint32_t nError = 0;
        uint32_t nAddress = 0;
    };
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, host] {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* list = nullptr;
        int r = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
        std::lock_guard lock(lookup->lock);
        if (r == 0 && list) {
            lookup->nAddress = reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr.s_addr;
        } else {
            lookup->nError = ResolverCode(r);
        }
        if (list)
            ::freeaddrinfo(list);
        lookup->fDone = true;
        lookup->done.notify_all();
    }).detach();
    std::unique_lock lock(lookup->lock);
    if (!lookup->done.wait_for(lock, std::chrono::milliseconds(HTTP_RESOLVE_LIMIT_MS),
                               [&] { return lookup->fDone; }))
        return WSAETIMEDOUT_CODE;
    nAddress = lookup->nAddress;
    return lookup->nError;
}

HttpConnection::HttpConnection(const Clock& clock, const HttpWake* wake)
    : clock_(clock), wake_(wake) {}

HttpConnection::~HttpConnection() {
    Close();
}

void HttpConnection::Close() {
    if (ssl_) {
        SSL_free(ssl_);
        ssl_ = nullptr;
    }
    fd_.Reset();
    fReusable_ = false;
}

uint32_t HttpConnection::WaitFor(bool fWrite, uint32_t nStart, uint32_t nLimit,
                                 uint32_t nLimitCode) {
    for (;;) {
        uint32_t nElapsed = clock_.Tick() - nStart;
        if (nElapsed > nLimit)
            return nLimitCode;
        pollfd fds[2] = {{fd_.Get(), static_cast<short>(fWrite ? POLLOUT : POLLIN), 0},
                         {wake_ ? wake_->Fd() : -1, POLLIN, 0}};
        int nSlice = static_cast<int>(std::min<uint32_t>(nLimit - nElapsed + 1, POLL_SLICE_MS));
        int r = ::poll(fds, 2, nSlice);
        if (r < 0 && errno != EINTR)
            return LastOsError();
        if (r <= 0)
            continue;
        if (fds[1].revents & POLLIN)
            return WSAEINTR_CODE;
        if (fds[0].revents)
            return 0;
    }
}

uint32_t HttpConnection::Open(const std::string& host, uint16_t nPort, int nKind, bool fAnyCert,
                              TlsContext& slot) {
    Close();
    tlsFailure_.clear();
    uint32_t nAddress = 0;
    if (uint32_t e = ResolveHostIpv4(host, nAddress))
        return e;
    bool fTls = nKind > 0;
    if (fTls && !CreateTlsContext(nKind, fAnyCert, slot))
        return ERR_TLS_INIT;
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd)
        return LastOsError();
    int nBuffer = HTTP_SOCKET_BUFFER, one = 1;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &nBuffer, sizeof nBuffer);
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_SNDBUF, &nBuffer, sizeof nBuffer);
    ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = nAddress;
    addr.sin_port = htons(nPort != 0 ? nPort : (fTls ? 443 : 80));
    fd_ = std::move(fd);
    if (::connect(fd_.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (errno != EINPROGRESS) {
            uint32_t e = LastOsError();
            Close();
            return e;
        }
        uint32_t e = WaitFor(true, clock_.Tick(), HTTP_CONNECT_LIMIT_MS, WSAETIMEDOUT_CODE);
        int nSoError = 0;
        socklen_t len = sizeof nSoError;
        if (e == 0 && ::getsockopt(fd_.Get(), SOL_SOCKET, SO_ERROR, &nSoError, &len) == 0 &&
            nSoError != 0)
            e = MapErrno(nSoError);
        if (e != 0) {
            Close();
            return e;
        }
    }
    if (fTls) {
        ssl_ = SSL_new(slot.get());
        if (!ssl_ || SSL_set_fd(ssl_, fd_.Get()) != 1) {
            Close();
            return ERR_TLS_SSL;
        }
        if (uint32_t e = Handshake(host, fAnyCert)) {
            LogWrite("オンラインストレージ%sとのTLS接続失敗(%s)\r\n", host.c_str(),
                     tlsFailure_.c_str());
            Close();
            return e;
        }
    }
    fReusable_ = true;
    return 0;
}

uint32_t HttpConnection::Handshake(const std::string& host, bool fAnyCert) {
    bool fIp = IsIpLiteral(host);
    if (!fIp)
        SSL_set_tlsext_host_name(ssl_, host.c_str());
    if (!fAnyCert) {
        X509_VERIFY_PARAM* param = SSL_get0_param(ssl_);
        int ok = fIp ? X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str())
                     : SSL_set1_host(ssl_, host.c_str());
        if (ok != 1) {
            tlsFailure_ = "host name not usable for verification";
            return ERR_TLS_SSL;
        }
    }
    SSL_set_connect_state(ssl_);
    ERR_clear_error();
    uint32_t nStart = clock_.Tick();
    for (;;) {
        int r = SSL_do_handshake(ssl_);
        if (r == 1)
            return 0;
        int nSsl = SSL_get_error(ssl_, r);
        if (nSsl != SSL_ERROR_WANT_READ && nSsl != SSL_ERROR_WANT_WRITE) {
            tlsFailure_ = OpenSslReason(ssl_);
            return ERR_TLS_SSL;
        }
        uint32_t e =
            WaitFor(nSsl == SSL_ERROR_WANT_WRITE, nStart, HTTP_SEND_LIMIT_MS, WSAETIMEDOUT_CODE);
        if (e != 0) {
            tlsFailure_ = ErrorText(e);
            return e;
        }
    }
}

long HttpConnection::Write(const char* p, size_t n, uint32_t& nError, bool& fWantRead) {
    fWantRead = false;
    nError = 0;
    if (!ssl_) {
        ssize_t r = ::send(fd_.Get(), p, n, MSG_NOSIGNAL);
        if (r < 0)
            nError =
                (errno == EAGAIN || errno == EWOULDBLOCK) ? WSAEWOULDBLOCK_CODE : LastOsError();
        return r;
    }
    ERR_clear_error();
    int r = SSL_write(ssl_, p, static_cast<int>(std::min<size_t>(n, 1 << 30)));
    if (r > 0)
        return r;
    int nSsl = SSL_get_error(ssl_, r);
    if (nSsl == SSL_ERROR_WANT_WRITE || nSsl == SSL_ERROR_WANT_READ) {
        fWantRead = nSsl == SSL_ERROR_WANT_READ;
        nError = WSAEWOULDBLOCK_CODE;
    } else {
        nError = (nSsl == SSL_ERROR_SYSCALL && errno != 0) ? LastOsError() : ERR_TLS_SEND;
    }
    return -1;
}

long HttpConnection::Read(char* p, size_t n, uint32_t& nError, bool& fWantWrite) {
    fWantWrite = false;
    nError = 0;
    if (!ssl_) {
        ssize_t r = ::recv(fd_.Get(), p, n, 0);
        if (r < 0)
            nError =
                (errno == EAGAIN || errno == EWOULDBLOCK) ? WSAEWOULDBLOCK_CODE : LastOsError();
        return r;
    }
    ERR_clear_error();
    int r = SSL_read(ssl_, p, static_cast<int>(std::min<size_t>(n, 1 << 30)));
    if (r > 0)
        return r;
    int nSsl = SSL_get_error(ssl_, r);
    if (nSsl == SSL_ERROR_ZERO_RETURN)
        return 0;
    if (nSsl == SSL_ERROR_WANT_READ || nSsl == SSL_ERROR_WANT_WRITE) {
        fWantWrite = nSsl == SSL_ERROR_WANT_WRITE;
        nError = WSAEWOULDBLOCK_CODE;
    } else if (nSsl == SSL_ERROR_SYSCALL && errno != 0) {
        nError = LastOsError();
    } else {
        // A close without the TLS close message could cut a body that runs to
        // the close; it is a failure, never an end.
        nError = WSAECONNRESET_CODE;
    }
    return -1;
}

long HttpSend(HttpConnection& connection, const char* pcHost, std::string_view bytes,
              uint32_t& nError) {
    static constexpr std::string_view kMethods[] = {"PUT ",   "GET ",    "MOVE ",
                                                    "MKCOL ", "DELETE ", "PROPFIND "};
    for (std::string_view m : kMethods) {
        if (bytes.size() >= m.size() && EqualNoCase(bytes.substr(0, m.size()), m)) {
            size_t end = bytes.find("\r\n\r\n");
            HttpDumpRecord("SEND", pcHost,
                           bytes.substr(0, end == std::string_view::npos ? bytes.size() : end + 4));
            break;
        }
    }
    nError = 0;
    uint32_t nStart = connection.GetClock().Tick();
    size_t nSent = 0;
    while (nSent < bytes.size()) {
        bool fWantRead = false;
        long r = connection.IsOpen() ? connection.Write(bytes.data() + nSent, bytes.size() - nSent,
                                                        nError, fWantRead)
                                     : (nError = WSAENOTCONN_CODE, -1);
        if (r > 0) {
            nSent += static_cast<size_t>(r);
            continue;
        }
        if (r == 0)
            nError = ERR_TLS_SEND;
        if (nError == WSAEWOULDBLOCK_CODE)
            nError = connection.WaitFor(!fWantRead, nStart, HTTP_SEND_LIMIT_MS, WSAETIMEDOUT_CODE);
        if (nError != 0) {
            LogWrite("オンラインストレージ%sへのデータ%zuバイト送信エラー(0x%08X-%s)\r\n", pcHost,
                     bytes.size(), nError, ErrorText(nError).c_str());
            connection.Close();
            return -1;
        }
    }
    return static_cast<long>(nSent);
}

namespace {

long ReceiveFailed(HttpConnection& connection, uint32_t& nError, uint32_t nCode,
                   uint32_t* pnEndTick) {
    nError = nCode;
    connection.Close();
    if (pnEndTick)
        *pnEndTick = connection.GetClock().Tick();
    return -1;
}

} // namespace

long HttpReceive(HttpConnection& connection, const char* pcHost, HttpAnswer& answer,
                 uint32_t& nError, uint32_t* pnLimit, uint32_t* pnEndTick) {
    nError = 0;
    const Clock& clock = connection.GetClock();
    uint32_t nStart = clock.Tick();
    uint32_t nLimit = pnLimit ? *pnLimit : HTTP_RECEIVE_LIMIT_MS;
    HttpAnswerParser parser;
    bool fAny = false;
    std::unique_ptr<char[]> piece(new char[READ_PIECE]);
    for (;;) {
        bool fWantWrite = false;
        uint32_t e = 0;
        long r = connection.IsOpen() ? connection.Read(piece.get(), READ_PIECE, e, fWantWrite)
                                     : (e = WSAENOTCONN_CODE, -1);
        HttpParse state = HttpParse::NeedMore;
        if (r > 0) {
            fAny = true;
            state = parser.Feed(std::string_view(piece.get(), static_cast<size_t>(r)));
        } else if (r == 0) {
            state = parser.Finish();
        } else if (e == WSAEWOULDBLOCK_CODE) {
            e = connection.WaitFor(fWantWrite, nStart, nLimit, WSAETIMEDOUT_CODE);
            if (e == WSAETIMEDOUT_CODE) {
                if (pnLimit)
                    *pnLimit += HTTP_TIMEOUT_RAISE_MS;
                LogWrite("オンラインストレージ%sから受信タイムアウト(%uミリ秒)\r\n", pcHost,
                         nLimit);
                return ReceiveFailed(connection, nError, e, pnEndTick);
            }
        }
        if (e != 0 && e != WSAEWOULDBLOCK_CODE) {
            if (e != WSAEINTR_CODE)
                LogWrite("オンラインストレージ%sから受信失敗(0x%08X-%s)\r\n", pcHost, e,
                         ErrorText(e).c_str());
            return ReceiveFailed(connection, nError, e, pnEndTick);
        }
        if (state == HttpParse::Bad) {
            LogWrite("オンラインストレージ%sから受信失敗(0x%08X-%s: %s)\r\n", pcHost, ERR_NOT_HTTP,
                     ErrorText(ERR_NOT_HTTP).c_str(), parser.Reason());
            return ReceiveFailed(connection, nError, ERR_NOT_HTTP, pnEndTick);
        }
        if (state == HttpParse::Cut) {
            // A closed connection brings nothing more: no point in waiting.
            if (fAny)
                LogWrite("オンラインストレージ%sから受信異常\r\n", pcHost);
            else
                LogWrite("オンラインストレージ%sから応答無し\r\n", pcHost);
            return ReceiveFailed(connection, nError, fAny ? ERR_RECV_STALLED : ERR_NO_RESPONSE,
                                 pnEndTick);
        }
        if (state == HttpParse::Complete)
            break;
    }
    answer = parser.TakeAnswer();
    connection.SetReusable(answer.fKeepAlive);
    if (!answer.fKeepAlive)
        connection.Close();
    if (pnEndTick)
        *pnEndTick = clock.Tick();
    HttpDumpRecord("RECV", pcHost, answer.header);
    return static_cast<long>(answer.header.size() + answer.body.size());
}

} // namespace brindle
