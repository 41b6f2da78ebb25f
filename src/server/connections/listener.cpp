// The listening socket: creation with its log lines, the accept loop on its
// own thread, and the options every accepted socket gets.
#include "common/error_codes.h"
#include "common/error_text.h"
#include "common/log.h"
#include "common/os_error.h"
#include "server/connections/connection_manager.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <system_error>

namespace brindle {

namespace {

// A backlog of one makes the kernel drop the connection attempts that
// arrive while the listener starts a thread, and a dropped attempt is
// tried again only 1, 3, 7, 15 s later: a flood of connections would keep
// a good client out for that long.
constexpr int LISTEN_BACKLOG = 128;
// Both buffers hold one largest packet.
constexpr int SOCKET_BUFFER_SIZE = 65553;
constexpr int SOCKET_TIMEOUT_MS = 100;

uint32_t LogStepFailure(const char* pcStep, uint32_t err) {
    LogWrite("%s(0x%08X-%s)\r\n", pcStep, err, ErrorText(err).c_str());
    return err;
}

void CloseListening(UniqueFd& fd) {
    if (!fd.Valid())
        return;
    int nFd = fd.Release();
    if (::close(nFd) == 0) {
        LogWrite("サーバソケット(0x%08X)を破棄\r\n", static_cast<unsigned>(nFd));
    } else {
        uint32_t err = LastOsError();
        LogWrite("サーバソケット(0x%08X)を破棄失敗(0x%08X-%s)\r\n", static_cast<unsigned>(nFd), err,
                 ErrorText(err).c_str());
    }
}

uint32_t BindAndListen(int fd, const std::string& cAddress, uint16_t nPort) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(nPort);
    if (::inet_pton(AF_INET, cAddress.c_str(), &addr.sin_addr) != 1)
        return LogStepFailure("ソケットバインドに失敗", WSAEADDRNOTAVAIL_CODE);
    // Without it a restarted server could not bind while its old
    // connections linger in TIME_WAIT; it never takes a port in active use.
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return LogStepFailure("ソケットバインドに失敗", LastOsError());
    if (::listen(fd, LISTEN_BACKLOG) != 0)
        return LogStepFailure("ソケットリッスンに失敗", LastOsError());
    return 0;
}

uint16_t BoundPort(int fd) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return 0;
    return ntohs(addr.sin_port);
}

// Options of an accepted socket. Returns false (logged) when a buffer
// cannot be set; the caller then closes the socket.
bool SetAcceptedOptions(int fd) {
    int size = SOCKET_BUFFER_SIZE;
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size) != 0) {
        uint32_t err = LastOsError();
        LogWrite("ソケット受信バッファ設定に失敗(0x%08X-%s)\r\n", err, ErrorText(err).c_str());
        return false;
    }
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size) != 0) {
        uint32_t err = LastOsError();
        LogWrite("ソケット送信バッファ設定に失敗(0x%08X-%s)\r\n", err, ErrorText(err).c_str());
        return false;
    }
    // Every packet goes out in one send; holding back its tail for an
    // acknowledgement only delays the image.
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval tv{0, SOCKET_TIMEOUT_MS * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    return true;
}

// Failures of accept that concern one peer or a passing condition; the
// listener stays open for the next peer (a peer that resets before it is
// accepted must not close the port for everyone).
bool TransientAcceptError(int err) {
    return err == EINTR || err == EAGAIN || err == EWOULDBLOCK || err == ECONNABORTED ||
           err == EPROTO || err == ENETDOWN || err == ENOPROTOOPT || err == EHOSTDOWN ||
           err == ENONET || err == EHOSTUNREACH || err == EOPNOTSUPP || err == ENETUNREACH;
}

} // namespace

uint32_t ConnectionManager::OpenListener(uint16_t nPort) {
    std::lock_guard<std::mutex> lock(listenerLock_);
    StopListenerThread();
    CloseListening(listenFd_);
    nListenPort_.store(0);
    if (fClosing_.load())
        return 0;
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    uint32_t err = 0;
    if (!fd.Valid())
        err = LogStepFailure("サーバソケット作成に失敗", LastOsError());
    if (err == 0)
        err = BindAndListen(fd.Get(), cBindAddress_, nPort);
    if (err == 0) {
        listenWake_.Reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
        if (!listenWake_.Valid())
            err = LogStepFailure("ソケットセレクトに失敗", LastOsError());
    }
    if (err == 0) {
        try {
            listener_ =
                std::thread(&ConnectionManager::ListenLoop, this, fd.Get(), listenWake_.Get());
        } catch (const std::system_error& e) {
            err = LogStepFailure("ソケットセレクトに失敗", MapErrno(e.code().value()));
        }
    }
    if (err != 0) {
        listenWake_.Reset();
        fListenerFailed_.store(true);
        return err;
    }
    nListenPort_.store(BoundPort(fd.Get()));
    listenFd_ = std::move(fd);
    LogWrite("サーバソケット作成\r\n");
    return 0;
}

void ConnectionManager::CloseListener() {
    std::lock_guard<std::mutex> lock(listenerLock_);
    StopListenerThread();
    CloseListening(listenFd_);
    nListenPort_.store(0);
}

void ConnectionManager::StopListenerThread() {
    if (listener_.joinable()) {
        uint64_t one = 1;
        ssize_t r = ::write(listenWake_.Get(), &one, sizeof one);
        (void)r;
        listener_.join();
    }
    listenWake_.Reset();
}

void ConnectionManager::ListenLoop(int nListenFd, int nWakeFd) {
    for (;;) {
        pollfd fds[2] = {{nListenFd, POLLIN, 0}, {nWakeFd, POLLIN, 0}};
        int r = ::poll(fds, 2, -1);
        if (r < 0 && errno == EINTR)
            continue;
        if (fds[1].revents != 0)
            return;
        uint32_t err = r < 0 ? LastOsError() : 0;
        if (err == 0 && (fds[0].revents & (POLLERR | POLLNVAL)) != 0) {
            int soErr = 0;
            socklen_t len = sizeof soErr;
            ::getsockopt(nListenFd, SOL_SOCKET, SO_ERROR, &soErr, &len);
            err = soErr != 0 ? MapErrno(soErr) : WSAENOTSOCK_CODE;
        }
        if (err != 0) {
            LogWrite("ソケットセレクトでエラー発生(0x%08X-%s)\r\n", err, ErrorText(err).c_str());
            break;
        }
        sockaddr_in addr{};
        socklen_t len = sizeof addr;
        int fd = ::accept4(nListenFd, reinterpret_cast<sockaddr*>(&addr), &len, SOCK_CLOEXEC);
        if (fd < 0) {
            int acceptErr = errno;
            if (TransientAcceptError(acceptErr))
                continue;
            // Out of descriptors for a moment (ending threads give theirs
            // back): the peer waits in the backlog instead of the port
            // closing for everyone.
            if (acceptErr == EMFILE || acceptErr == ENFILE || acceptErr == ENOBUFS ||
                acceptErr == ENOMEM) {
                pollfd wake{nWakeFd, POLLIN, 0};
                if (::poll(&wake, 1, 100) > 0)
                    return;
                continue;
            }
            err = LastOsError();
            LogWrite("ソケットアクセプトでエラー発生(0x%08X-%s)\r\n", err, ErrorText(err).c_str());
            break;
        }
        UniqueFd socket(fd);
        if (!SetAcceptedOptions(fd))
            continue;
        char cPeer[32];
        uint32_t ip = ntohl(addr.sin_addr.s_addr);
        snprintf(cPeer, sizeof cPeer, "%u.%u.%u.%u", ip >> 24, (ip >> 16) & 255, (ip >> 8) & 255,
                 ip & 255);
        StartDirect(cPeer, std::move(socket), ntohs(addr.sin_port));
    }
    // Listening resumes only when the program opens the listener again; the
    // socket stops taking peers now and is closed (and logged) there.
    ::shutdown(nListenFd, SHUT_RDWR);
    nListenPort_.store(0);
    fListenerFailed_.store(true);
}

} // namespace brindle
