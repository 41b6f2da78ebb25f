// The storage relay worker: packets travel as files in a folder of a WebDAV
// server when the two programs cannot reach each other.
//
// Both programs run one worker over one account. Sending a packet uploads
// one file (staged in tmp/, then published by MOVE); a poll lists the
// folder, fetches the files addressed to this program oldest first,
// control packets before images, queues their packets per peer and
// removes each file. The packet codec reaches the worker through
// RelayTransport; a connection is attached with its RelayPeer first.
//
// Threads: uploads run on the callers' threads (one at a time per worker,
// a second gets ERR_RELAY_BUSY); one poll runs at a time (a second returns
// at once); receives take only the queue lock. Every request can be
// abandoned through the worker's wake descriptor (Close, Abandon).
#pragma once

#include "platform/clock.h"
#include "protocol/packet_codec.h"
#include "storage/http_connection.h"
#include "storage/relay_names.h"
#include "storage/relay_peer.h"
#include "storage/relay_stall.h"
#include "storage/storage_account.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace brindle {

inline constexpr uint32_t ERR_HTTP_STATUS = ERR_STORAGE_NEGATIVE; // status outside 200-299
inline constexpr uint32_t ERR_RELAY_BUSY = ERR_STORAGE_SEND_WAIT; // closing, or upload running
inline constexpr uint32_t ERR_RELAY_NAME = ERR_STORAGE_SEND;      // unusable computer name

inline constexpr uint32_t RELAY_STARTUP_QUIET_MS = 30000;  // no poll this soon after boot
inline constexpr uint32_t RELAY_LIST_LIMIT_MS = 120000;    // PROPFIND answer
inline constexpr uint32_t RELAY_TIMED_FETCH_MS = 49000;    // fetch phase of a timed poll
inline constexpr uint32_t RELAY_TIMED_RECEIVE_MS = 50000;  // its receive limit, less time passed
inline constexpr uint32_t RELAY_REMOVE_LIMIT_MS = 30000;   // DELETE and quarantine MOVE
inline constexpr size_t RELAY_PEERS_FROM_LISTING_MAX = 64; // peers started by one listing

struct RelayWorkerOptions {
    bool fServer = false;
    std::string cComputerName; // as the system gives it; upper-cased at Start
    const Clock* pClock = nullptr;
    // Server: a listing or fetch found files of a peer without a running
    // connection. Called after the poll released everything it holds, so the
    // callee may start (and join) connection threads.
    std::function<void(const std::string& name)> onPeer;
    // Server: held around every upload and poll (across processes too).
    std::function<std::unique_ptr<void, void (*)(void*)>()> storageLock;
    // The application is closing: polls stop.
    std::function<bool()> appClosing;
    // Client: time budget of one fetch phase in ms (0: fetch nothing).
    std::function<uint32_t()> fetchBudget;
};

class RelayWorker : public RelayTransport {
  public:
    RelayWorker(AccountPtr account, RelayWorkerOptions options);
    ~RelayWorker() override;

    // Checks the computer name (it must upper-case to 1-63 of
    // [A-Z0-9_-]). Returns 0 or ERR_RELAY_NAME (logged).
    uint32_t Start();
    // Sets the closing flag, abandons the running requests and waits until
    // no upload or poll runs. Later calls return at once.
    void Close();
    // Abandons the requests now running (the watchdog), without closing;
    // requests fail at once until EndAbandon.
    void Abandon();
    void EndAbandon();

    const std::string& ComputerName() const { return cName_; }
    StorageAccount& Account() const { return *account_; }

    // Connections: attach before the codec uses the worker for `conn`
    // (this sets conn.pRelay), detach when the connection ends.
    void Attach(PacketConnection& conn, std::shared_ptr<RelayPeer> peer);
    void Detach(PacketConnection& conn);
    std::shared_ptr<RelayPeer> FindPeer(const std::string& name) const;

    // A timed poll of the server's check thread: the fetch phase stops
    // once RELAY_TIMED_FETCH_MS have passed since it began.
    void TimedPoll();
    // Tick at which the running timed poll's fetch phase began; 0: none.
    uint32_t FetchStartTick() const { return nFetchStart_.load(); }

    // RelayTransport
    uint32_t SendControl(PacketConnection& conn, std::span<const uint8_t> packet,
                         uint32_t nUncompressedLength) override;
    uint32_t SendImage(PacketConnection& conn, std::span<const uint8_t> packet,
                       uint32_t nUncompressedLength) override;
    int64_t Receive(PacketConnection& conn, std::vector<uint8_t>& buffer, size_t nCapacity,
                    RelayReceiveInfo& info) override;
    void Poll(PacketConnection& conn) override;

    // Packets queued now (all peers), for tests and the status display.
    size_t QueuedCount() const;
    // HTTP requests sent so far (answered or not), for benchmarks.
    uint64_t RequestCount() const { return nRequests_.load(); }

  private:
    struct Queued {
        int nKind = 0;
        uint32_t nSequence = 0;
        uint32_t nUncompressedLength = 0;
        std::vector<uint8_t> packet;
        std::string cPeer;
    };
    struct Found {
        FoundFile file;
        std::shared_ptr<RelayPeer> peer;
    };
    class Session;

    uint32_t Upload(PacketConnection& conn, std::span<const uint8_t> packet, uint32_t nUncompressed,
                    bool fImage);
    uint32_t UploadSteps(Session& s, RelayPeer& peer, std::span<const uint8_t> prefix,
                         std::span<const uint8_t> packet, bool fImage);
    uint32_t MakeFolders(Session& s);
    void RunPoll(bool fTimed, std::vector<std::string>& peersToStart);
    bool List(Session& s, std::vector<std::string>& peersToStart);
    void FetchPhase(Session& s, bool fTimed, std::vector<std::string>& peersToStart);
    enum class Fetched { Removed, Kept, Stop };
    Fetched FetchOne(Session& s, const Found& f, bool fTimed, uint32_t nLimit,
                     std::vector<std::string>& peersToStart);
    bool TakeBody(const std::string& path, const std::string& body, const Found& f);
    bool CheckClientFile(RelayPeer& peer, const std::string& body, size_t& nPrefix,
                         RelayCheckValue& accepted, bool& fDuplicate);
    void Quarantine(Session& s, const std::string& path, const std::string& name);
    uint32_t Remaining(bool fTimed, bool& fOver) const;
    void LogFound() const;

    std::string RelayFolder() const;
    std::shared_ptr<RelayPeer> PeerOf(const PacketConnection& conn) const;
    void SaveNumber(const char* pcKey, uint32_t nValue);
    void SetSetupBits(uint32_t nSet, uint32_t nClear);
    uint32_t NextSendNo(bool fAdvance);

    AccountPtr account_;
    RelayWorkerOptions options_;
    const Clock& clock_;
    std::string cName_;
    HttpWake wake_;
    std::atomic<bool> fClosing_{false};
    std::atomic<bool> fUploading_{false};
    std::atomic<bool> fNoMove_{false};
    std::atomic<uint32_t> nFetchStart_{0};
    std::atomic<uint64_t> nRequests_{0};

    mutable std::mutex peersLock_;
    std::map<const PacketConnection*, std::shared_ptr<RelayPeer>> peers_;

    std::mutex pollLock_; // one poll at a time; guards found_, stall_, pending_
    std::vector<Found> found_;
    StallTracker stall_;
    // Files queued whose removal failed: fetched again, they are removed, not queued twice.
    std::set<std::string> pending_;
    std::map<std::string, RelayCheckValue> lastAccepted_; // server: per peer

    mutable std::mutex queueLock_;
    std::vector<Queued> queue_;

    std::mutex idleLock_;
    std::condition_variable idle_;
    int nRunning_ = 0;
};

} // namespace brindle
