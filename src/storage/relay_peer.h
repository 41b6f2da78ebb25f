// What the relay worker knows of one connection that travels through the
// storage: the peer's relay name and the few states the worker reads and
// changes from other threads than the connection's own.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace brindle {

using RelayCheckValue = std::array<uint8_t, 16>;

// The check value of a client file: MD5 of the product word, the
// connection password and the connection's chain value.
RelayCheckValue RelayCheck(const std::string& password, const RelayCheckValue& chain);

struct RelayPeer {
    std::string cName; // upper-cased relay name of the peer (fixed)

    std::atomic<bool> fRunning{false};     // the connection's thread runs
    std::atomic<bool> fStopRequest{false}; // server: a file failed its check
    std::atomic<bool> fLoggedIn{false};    // server: logged in; client: online
    std::atomic<int32_t> nBacklog{0};      // our files still in the folder at the last listing

    RelayCheckValue Chain() const {
        std::lock_guard lock(chainLock_);
        return chain_;
    }
    void SetChain(const RelayCheckValue& chain) {
        std::lock_guard lock(chainLock_);
        chain_ = chain;
    }
    std::string Password() const {
        std::lock_guard lock(chainLock_);
        return password_;
    }
    // What a log-in leaves: the connection password and the first chain
    // value (zero after a log-in without password).
    void SetLogin(const std::string& password, const RelayCheckValue& chain) {
        std::lock_guard lock(chainLock_);
        password_ = password;
        chain_ = chain;
    }

  private:
    // Polls on other threads check and advance the chain while the
    // connection's thread logs in.
    mutable std::mutex chainLock_;
    RelayCheckValue chain_{};
    std::string password_;
};

} // namespace brindle
