// The listening socket and the list of client connections.
//
// The listener runs on a thread of its own: it accepts peers and starts
// their connection threads. The program (re)opens it on the "Port" setting
// and, when it failed, opens it again 5 s later from its periodic tick.
#pragma once

#include "common/unique_fd.h"
#include "server/connections/client_connection.h"
#include "server/connections/login_pacer.h"
#include "server/connections/server_context.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace brindle {

// What a test or the main window may see of one record.
struct ConnectionInfo {
    std::string cPeerName;
    bool fRunning = false;
    int32_t nLoginState = 0;
    uint32_t nStopRequest = 0;
    int32_t nTransport = 0;
};

class ConnectionManager {
  public:
    // cBindAddress: the IPv4 address the listener binds ("0.0.0.0", every
    // local address, unless told otherwise).
    explicit ConnectionManager(ServerContext& context, std::string cBindAddress = "0.0.0.0");
    ~ConnectionManager();
    ConnectionManager(const ConnectionManager&) = delete;
    ConnectionManager& operator=(const ConnectionManager&) = delete;

    // Closes a listening socket that exists and creates a new one on
    // `nPort`. Returns 0 or the code of the failed step (logged; the
    // listener failure flag is then set).
    uint32_t OpenListener(uint16_t nPort);
    void CloseListener();
    // The port the listener is bound to, 0 when there is none.
    uint16_t ListenerPort() const { return nListenPort_.load(); }
    // True once after the listener failed or was closed by an error.
    bool TakeListenerFailure() { return fListenerFailed_.exchange(false); }

    // Starts serving a peer whose socket was accepted (options already
    // set). Ignored while closing. Never waits for another thread: an old
    // thread of the same peer is told to stop and is joined later. Returns
    // 0 or a code (logged).
    uint32_t StartDirect(const std::string& cPeerName, UniqueFd socket, int nPeerPort);
    // Starts serving a relayed peer; *ppSlot receives the record (cleared
    // first, stays null on failure).
    uint32_t StartRelayed(const std::string& cPeerName, RelayTransport* pRelay,
                          const RelayIntervals& intervals, ClientConnection** ppSlot,
                          const std::function<void(ClientConnection&)>& prepare = {});

    // Images (or a property update) wait: wakes threads waiting for packets.
    void NotifyWork();

    // Closing: no connection starts any more; every thread is asked to stop
    // and joined. A thread still waiting for its client's disconnect after
    // nGraceMs has its socket shut down so that it ends.
    // abandonRelay: called once when relayed connections still run after the
    // grace time (a storage request that hangs), so that their threads end.
    void StopAll(uint32_t nGraceMs = STOP_GRACE_MS, const std::function<void()>& abandonRelay = {});
    // Long enough for the 5 s wait for a client's disconnect, short enough
    // that the program ends within 8 s of being told to.
    static constexpr uint32_t STOP_GRACE_MS = 6000;
    // Records of peers whose threads ended that are kept for their return.
    static constexpr size_t ENDED_RECORDS_KEPT = 16;

    // Called by a thread whose client logged in: every other record stands
    // down.
    void StandDownOthers(const ClientConnection* self);
    // True when a record other than `self` has a logged-in client.
    bool AnotherLoggedIn(const ClientConnection* self);

    std::vector<ConnectionInfo> Snapshot();
    // Threads that ended but have not been joined (tests watch it).
    size_t UnjoinedThreads();
    ServerContext& Context() { return context_; }
    LoginPacer& Pacer() { return pacer_; }

    // Called by a record's thread as it ends: gives back what only a
    // running thread needs (its wake descriptor, its packet areas).
    void ThreadEnding(ClientConnection& record);

  private:
    ClientConnection* FindOrCreate(const std::string& cPeerName);
    ClientConnection* RecordToStart(const std::string& cPeerName);
    uint32_t Launch(ClientConnection& record);
    void StopAndJoin(ClientConnection& record);
    void Retire(std::vector<std::unique_ptr<ClientConnection>>::iterator it);
    void ReapLocked();
    void DropEndedLocked();
    void WaitEnded(const std::string& cPeerName);
    void ListenLoop(int nListenFd, int nWakeFd);
    void Accept(int nListenFd);
    void StopListenerThread();

    ServerContext& context_;
    std::string cBindAddress_;

    std::mutex listLock_;
    // One record per peer name, and the records of old threads of a peer
    // that came back while they still ran: told to stop, joined once ended.
    std::vector<std::unique_ptr<ClientConnection>> records_;
    std::vector<std::unique_ptr<ClientConnection>> retiring_;
    uint64_t nStarts_ = 0;
    // The record of the client that logged in last is kept when it ends.
    const ClientConnection* pLastLoggedIn_ = nullptr;
    LoginPacer pacer_;
    std::mutex startLock_; // one start at a time
    std::atomic<bool> fClosing_{false};

    std::mutex listenerLock_;
    UniqueFd listenFd_;
    UniqueFd listenWake_;
    std::thread listener_;
    std::atomic<uint16_t> nListenPort_{0};
    std::atomic<bool> fListenerFailed_{false};
};

// Runs the conversations of one record; the body of its thread.
void ConnectionThreadMain(ConnectionManager& manager, ClientConnection& record);

} // namespace brindle
