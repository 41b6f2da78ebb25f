// A scripted HTTP peer on loopback: accepts connections one after another
// and hands each to the test's script on a thread of its own.
#pragma once

#include "support/loopback.h"

#include <functional>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <vector>

namespace brindle::test {

// Reads from `fd` until `text` has arrived (or the peer closed); what was read.
inline std::string ReadUntil(int fd, const std::string& text) {
    std::string got;
    char buffer[4096];
    while (got.find(text) == std::string::npos) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        got.append(buffer, static_cast<size_t>(n));
    }
    return got;
}

inline void SendText(int fd, const std::string& text) {
    ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
}

class ScriptedHttpServer {
  public:
    // The script runs once per accepted connection (index from 0) until it
    // returns false.
    explicit ScriptedHttpServer(std::function<bool(int fd, int index)> script)
        : thread_([this, script] {
              for (int i = 0;; ++i) {
                  UniqueFd fd(::accept(listener_.Fd(), nullptr, nullptr));
                  if (!fd || !script(fd.Get(), i))
                      break;
              }
          }) {}
    ~ScriptedHttpServer() {
        ::shutdown(listener_.Fd(), SHUT_RDWR);
        thread_.join();
    }
    uint16_t Port() const { return listener_.Port(); }

  private:
    LoopbackListener listener_;
    std::thread thread_;
};

} // namespace brindle::test
