// TCP on 127.0.0.1 for tests: listeners on free ports and connections to
// them.
#pragma once

#include "common/unique_fd.h"
#include "support/wait_until.h"

#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>
#include <sys/socket.h>
#include <utility>

namespace brindle::test {

// A socket listening on 127.0.0.1, on a port the system picks unless one is
// given. Valid() is false when the port could not be had.
class LoopbackListener {
  public:
    explicit LoopbackListener(uint16_t nPort = 0, int nBacklog = 4) {
        UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(nPort);
        socklen_t len = sizeof addr;
        if (!fd || ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(fd.Get(), nBacklog) != 0 ||
            ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            return;
        fd_ = std::move(fd);
        nPort_ = ntohs(addr.sin_port);
    }

    bool Valid() const { return fd_.Valid(); }
    int Fd() const { return fd_.Get(); }
    uint16_t Port() const { return nPort_; }
    // Stops listening; the port is free again.
    void Close() { fd_.Reset(); }

  private:
    UniqueFd fd_;
    uint16_t nPort_ = 0;
};

// A port on 127.0.0.1 that was free a moment ago (listened on once and
// released), for a program the test starts.
inline uint16_t FreeLoopbackPort() {
    return LoopbackListener().Port();
}

// A blocking connection to 127.0.0.1:nPort; not Valid() when refused.
inline UniqueFd ConnectLoopback(uint16_t nPort) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(nPort);
    if (fd && ::connect(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        fd.Reset();
    return fd;
}

// Connects to 127.0.0.1:nPort until a connection is accepted or limitMs
// pass; true when one was.
inline bool WaitAccepting(uint16_t nPort, int limitMs) {
    return WaitUntil([&] { return ConnectLoopback(nPort).Valid(); }, limitMs, 20);
}

} // namespace brindle::test
