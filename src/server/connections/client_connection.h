// The server's record of one client (`ClientConnection`): one per peer name,
// served by one thread at a time. A record whose thread has ended is reused
// when its peer comes back; the manager keeps only a few of those.
#pragma once

#include "common/unique_fd.h"
#include "protocol/packet_codec.h"
#include "server/connections/login.h"
#include "storage/relay_peer.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace brindle {

// Stop requests.
inline constexpr uint32_t STOP_NONE = 0;
inline constexpr uint32_t STOP_REQUEST = 1;    // by the listener, the program or the thread
inline constexpr uint32_t STOP_STAND_DOWN = 2; // another client logged in

// Log-in states.
inline constexpr int32_t LOGIN_NONE = 0;
inline constexpr int32_t LOGIN_PENDING = -1; // connect received, answer pending
inline constexpr int32_t LOGIN_DONE = 1;

// How often a relayed connection polls its storage account, in seconds:
// while a client is known (log-in state not 0) and while waiting for one.
struct RelayIntervals {
    uint32_t nInterval = 1;
    uint32_t nWaitInterval = 1;
};

struct ClientConnection {
    ClientConnection() = default;
    ClientConnection(const ClientConnection&) = delete;
    ClientConnection& operator=(const ClientConnection&) = delete;

    std::thread thread;
    // Non-zero while the thread runs; the thread clears it as it ends.
    std::atomic<uint32_t> nThreadId{0};
    std::atomic<uint32_t> nStopRequest{STOP_NONE};
    std::atomic<int32_t> nLoginState{LOGIN_NONE};

    std::string cPeerName; // "a.b.c.d" for direct peers; set once
    // Positive: direct TCP, the peer's port; 0: relayed.
    std::atomic<int32_t> nTransport{0};

    // The accepted socket (direct only). The thread closes it; the manager
    // may shut it down to cut a stalled send short. Both hold socketLock.
    std::mutex socketLock;
    UniqueFd socket;

    // Codec state (its nSocket mirrors `socket`), used by the thread only.
    PacketConnection packet;
    // The relay of a relayed connection and its poll intervals.
    RelayTransport* pRelayAccount = nullptr;
    RelayIntervals relayIntervals;

    // The log-in challenge, then the client's digest after a password
    // log-in; zero for log-ins without password. Thread only: polls on
    // other threads check and advance the copy in relayPeer, which the
    // thread sets at each log-in.
    LoginBlock chain{};
    // Relayed: what the relay worker knows of this connection (running,
    // logged in, chain, stop request). Set before the thread starts.
    std::shared_ptr<RelayPeer> relayPeer;

    // Woken when images or a stop request wait for the thread. Open only
    // while the thread runs; opened, written and closed under the manager's
    // list lock.
    UniqueFd wake;
    // When the record last got a thread (the manager's count), so the
    // records of peers that left long ago are the first to go.
    uint64_t nStartSequence = 0;

    bool Running() const { return nThreadId.load() != 0; }
    // Set by the manager before the thread starts; read by the thread.
    bool Relayed() const { return packet.fRelayed; }
};

} // namespace brindle
