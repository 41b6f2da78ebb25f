#include "storage/relay_worker.h"

#include "common/little_endian.h"
#include "common/log.h"
#include "common/md5.h"
#include "storage/http_auth.h"
#include "storage/propfind_listing.h"
#include "storage/relay_requests.h"

#include <algorithm>
#include <cstring>

namespace brindle {

namespace {

constexpr char kProductWord[] = "Brindleshank";
constexpr size_t kPrefix = 4;         // uncompressed_length
constexpr uint8_t kMarkerPlain = ' '; // client file before the link is online
constexpr uint8_t kMarkerCheck = '#'; // followed by a check value

bool Is2xx(int nStatus) {
    return nStatus >= 200 && nStatus <= 299;
}

// The relay's detail lines ("Debug" bit value 2).
bool Detail() {
    return (g_nDebug.load() & DEBUG_RELAY_DETAIL) != 0;
}

// The type name of a framed packet, for the detail lines.
const char* TypeNameOf(std::span<const uint8_t> packet) {
    return packet.size() >= PACKET_HEADER_SIZE
               ? PacketTypeName(PacketHeaderRead(packet.data()).type)
               : "";
}

// Counts a run of the poll or upload, so Close can wait for the last one.
class RunGuard {
  public:
    RunGuard(std::mutex& lock, std::condition_variable& idle, int& nRunning)
        : lock_(lock), idle_(idle), nRunning_(nRunning) {
        std::lock_guard g(lock_);
        ++nRunning_;
    }
    ~RunGuard() {
        std::lock_guard g(lock_);
        if (--nRunning_ == 0)
            idle_.notify_all();
    }

  private:
    std::mutex& lock_;
    std::condition_variable& idle_;
    int& nRunning_;
};

} // namespace

RelayCheckValue RelayCheck(const std::string& password, const RelayCheckValue& chain) {
    Md5Context context;
    Md5Init(context);
    Md5Update(context, kProductWord, sizeof kProductWord - 1);
    Md5Update(context, password.data(), password.size());
    Md5Update(context, chain.data(), chain.size());
    RelayCheckValue value;
    Md5Final(context, value.data());
    return value;
}

// One TCP or TLS connection for the requests of one upload or poll.
class RelayWorker::Session {
  public:
    Session(RelayWorker& worker, TlsSlot slot)
        : worker_(worker), account_(*worker.account_), http_(worker.clock_, &worker.wake_),
          slot_(slot) {
        target_.fHttps = account_.nSsl > 0;
        target_.cAuthority = account_.cHost;
        if (account_.nPort != 0)
            target_.cAuthority += ":" + std::to_string(account_.nPort);
    }

    const RelayTarget& Target() const { return target_; }

    // Sends one request and reads its answer. On the first attempt an
    // answer that changed the credentials (a Digest challenge, a Passport
    // sign-in) is followed by one repeat. False with nError when no answer
    // came.
    bool Exchange(std::string_view method, const std::string& path,
                  const std::function<std::string(std::string_view)>& build,
                  std::span<const std::span<const uint8_t>> body, uint32_t* pnLimit,
                  HttpAnswer& answer, uint32_t& nError) {
        for (int nAttempt = 0; nAttempt < 2; ++nAttempt) {
            ++worker_.nRequests_;
            if (!Send(method, path, build, body, nError))
                return false;
            answer = HttpAnswer();
            if (HttpReceive(http_, account_.cHost.c_str(), answer, nError, pnLimit) < 0)
                return false;
            if (!AuthAfterAnswer(account_, method, path, answer, nAttempt == 0, worker_.clock_,
                                 &worker_.wake_))
                return true;
        }
        return true;
    }

  private:
    bool Send(std::string_view method, const std::string& path,
              const std::function<std::string(std::string_view)>& build,
              std::span<const std::span<const uint8_t>> body, uint32_t& nError) {
        if (!http_.Reusable()) {
            http_.Close();
            nError = http_.Open(account_.cHost, account_.nPort, account_.nSsl,
                                account_.nAnyCert == 1, account_.tls[slot_]);
            if (nError != 0)
                return false;
        }
        std::string request = build(AuthorizationLines(account_, method, path, worker_.clock_));
        if (HttpSend(http_, account_.cHost.c_str(), request, nError) < 0)
            return false;
        for (std::span<const uint8_t> part : body) {
            std::string_view bytes(reinterpret_cast<const char*>(part.data()), part.size());
            if (!bytes.empty() && HttpSend(http_, account_.cHost.c_str(), bytes, nError) < 0)
                return false;
        }
        return true;
    }

    RelayWorker& worker_;
    StorageAccount& account_;
    HttpConnection http_;
    TlsSlot slot_;
    RelayTarget target_;
};

RelayWorker::RelayWorker(AccountPtr account, RelayWorkerOptions options)
    : account_(std::move(account)), options_(std::move(options)),
      clock_(options_.pClock ? *options_.pClock : SystemClock()) {}

RelayWorker::~RelayWorker() {
    Close();
}

uint32_t RelayWorker::Start() {
    if (!RelayPeerName(options_.cComputerName, cName_)) {
        LogWrite("オンラインストレージ中継: "
                 "コンピュータ名\"%.64s\"は使えません(英数字・_・-の63文字以内)\r\n",
                 options_.cComputerName.c_str());
        return ERR_RELAY_NAME;
    }
    fClosing_ = false;
    wake_.Reset();
    return 0;
}

void RelayWorker::Close() {
    if (fClosing_.exchange(true))
        return;
    wake_.Wake();
    std::unique_lock lock(idleLock_);
    idle_.wait(lock, [&] { return nRunning_ == 0; });
}

void RelayWorker::Abandon() {
    wake_.Wake();
}

void RelayWorker::EndAbandon() {
    if (!fClosing_)
        wake_.Reset();
}

void RelayWorker::Attach(PacketConnection& conn, std::shared_ptr<RelayPeer> peer) {
    std::lock_guard lock(peersLock_);
    peers_[&conn] = std::move(peer);
    conn.fRelayed = true;
    conn.pRelay = this;
}

void RelayWorker::Detach(PacketConnection& conn) {
    std::lock_guard lock(peersLock_);
    peers_.erase(&conn);
}

std::shared_ptr<RelayPeer> RelayWorker::FindPeer(const std::string& name) const {
    std::lock_guard lock(peersLock_);
    for (const auto& [conn, peer] : peers_)
        if (peer->cName == name)
            return peer;
    return nullptr;
}

std::shared_ptr<RelayPeer> RelayWorker::PeerOf(const PacketConnection& conn) const {
    std::lock_guard lock(peersLock_);
    auto it = peers_.find(&conn);
    return it == peers_.end() ? nullptr : it->second;
}

std::string RelayWorker::RelayFolder() const {
    return account_->cPath + "%21Brindleshank%21";
}

void RelayWorker::SaveNumber(const char* pcKey, uint32_t nValue) {
    SaveAccountNumber(*account_, pcKey, nValue);
}

void RelayWorker::SetSetupBits(uint32_t nSet, uint32_t nClear) {
    uint32_t nOld, nNew;
    {
        std::lock_guard lock(account_->lock);
        nOld = account_->nSetup;
        nNew = (nOld & ~nClear) | nSet;
        account_->nSetup = nNew;
    }
    if (nNew != nOld)
        SaveNumber("Setup", nNew);
}

// The current SendNo; with fAdvance it moves on by one (saved) and the new
// value is returned.
uint32_t RelayWorker::NextSendNo(bool fAdvance) {
    uint32_t n;
    {
        std::lock_guard lock(account_->lock);
        if (fAdvance)
            ++account_->nSendNo;
        n = account_->nSendNo;
    }
    if (fAdvance)
        SaveNumber("SendNo", n);
    return n;
}

size_t RelayWorker::QueuedCount() const {
    std::lock_guard lock(queueLock_);
    return queue_.size();
}

// ---- Upload ----

uint32_t RelayWorker::SendControl(PacketConnection& conn, std::span<const uint8_t> packet,
                                  uint32_t nUncompressedLength) {
    return Upload(conn, packet, nUncompressedLength, false);
}

uint32_t RelayWorker::SendImage(PacketConnection& conn, std::span<const uint8_t> packet,
                                uint32_t nUncompressedLength) {
    return Upload(conn, packet, nUncompressedLength, true);
}

uint32_t RelayWorker::Upload(PacketConnection& conn, std::span<const uint8_t> packet,
                             uint32_t nUncompressed, bool fImage) {
    if (packet.empty())
        return 0;
    if (fClosing_ || fUploading_.exchange(true))
        return ERR_RELAY_BUSY;
    RunGuard run(idleLock_, idle_, nRunning_);
    struct Clear {
        std::atomic<bool>& flag;
        ~Clear() { flag = false; }
    } clear{fUploading_};
    std::shared_ptr<RelayPeer> peer = PeerOf(conn);
    if (!peer)
        return ERROR_INVALID_PARAMETER_CODE;
    auto storage = options_.storageLock ? options_.storageLock()
                                        : std::unique_ptr<void, void (*)(void*)>(nullptr, nullptr);

    uint8_t prefix[kPrefix + 1 + 16];
    StoreLe32(prefix, nUncompressed);
    size_t nPrefix = kPrefix;
    RelayCheckValue check{};
    bool fChecked = false;
    if (!options_.fServer) {
        fChecked = peer->fLoggedIn;
        prefix[nPrefix++] = fChecked ? kMarkerCheck : kMarkerPlain;
        if (fChecked) {
            check = RelayCheck(peer->Password(), peer->Chain());
            std::memcpy(prefix + nPrefix, check.data(), check.size());
            nPrefix += check.size();
        }
    }
    Session s(*this, TLS_SLOT_UPLOAD);
    uint32_t err = UploadSteps(s, *peer, std::span<const uint8_t>(prefix, nPrefix), packet, fImage);
    if (err == 0) {
        NextSendNo(true);
        if (fChecked)
            peer->SetChain(check);
    }
    return err;
}

uint32_t RelayWorker::MakeFolders(Session& s) {
    uint32_t nSetup;
    {
        std::lock_guard lock(account_->lock);
        nSetup = account_->nSetup;
    }
    if ((nSetup & 4) != 0)
        return 0;
    std::string folder = RelayFolder();
    std::string staging = folder + "/tmp";
    HttpAnswer answer;
    uint32_t err = 0;
    auto mkcol = [&](const std::string& path) {
        return s.Exchange(
            "MKCOL", path,
            [&](std::string_view auth) { return MkcolRequest(s.Target(), path, auth); }, {},
            nullptr, answer, err);
    };
    if ((nSetup & 2) == 0) {
        if (!mkcol(folder))
            return err;
        if (answer.nStatus == 201)
            SetSetupBits(2, 0);
    }
    if (!mkcol(staging))
        return err;
    if (answer.nStatus == 201)
        SetSetupBits(4, 0);
    return 0;
}

uint32_t RelayWorker::UploadSteps(Session& s, RelayPeer& peer, std::span<const uint8_t> prefix,
                                  std::span<const uint8_t> packet, bool fImage) {
    uint32_t err = MakeFolders(s);
    if (err != 0)
        return err;
    char bracket = RelayBracket(options_.fServer, fImage);
    std::string folder = RelayFolder();
    uint32_t nSendNo = NextSendNo(false);
    std::string name = RelayFileNameEncoded(cName_, bracket, peer.cName, nSendNo);
    bool fNoMove = fNoMove_;
    std::string putPath = folder + (fNoMove ? "/" : "/tmp/") + name;
    std::span<const uint8_t> body[] = {prefix, packet};
    size_t nLength = prefix.size() + packet.size();
    HttpAnswer answer;
    for (int nAttempt = 0; nAttempt < 2; ++nAttempt) {
        if (!s.Exchange(
                "PUT", putPath,
                [&](std::string_view auth) {
                    return PutRequest(s.Target(), putPath, auth, nLength, fNoMove);
                },
                body, nullptr, answer, err))
            return err;
        // Straight to the final name, an unread file of that name answers
        // 412 as a publishing MOVE would: take the next sequence.
        if (!fNoMove || answer.nStatus != 412 || nAttempt > 0)
            break;
        name = RelayFileNameEncoded(cName_, bracket, peer.cName, NextSendNo(true));
        putPath = folder + "/" + name;
    }
    if (!Is2xx(answer.nStatus))
        return ERR_HTTP_STATUS;
    SetSetupBits(6, 0);
    if (fNoMove) {
        if (Detail())
            LogWrite("PUT %s%s length=%d %s\r\n", account_->cHost.c_str(), putPath.c_str(),
                     static_cast<int>(nLength), TypeNameOf(packet));
        return 0;
    }
    for (int nAttempt = 0; nAttempt < 2; ++nAttempt) {
        std::string destination = folder + "/" + name;
        if (!s.Exchange(
                "MOVE", putPath,
                [&](std::string_view auth) {
                    return PublishRequest(s.Target(), putPath, destination, auth);
                },
                {}, nullptr, answer, err))
            break;
        if (Is2xx(answer.nStatus)) {
            if (Detail())
                LogWrite("MOVE %s%s/%s %s\r\n", account_->cHost.c_str(), folder.c_str(),
                         name.c_str(), TypeNameOf(packet));
            return 0;
        }
        err = ERR_HTTP_STATUS;
        if (answer.nStatus == 412 && nAttempt == 0) {
            // A file of that name waits unread: take the next sequence.
            name = RelayFileNameEncoded(cName_, bracket, peer.cName, NextSendNo(true));
            continue;
        }
        if (answer.nStatus == 501)
            fNoMove_ = true;
        break;
    }
    // The staged file must not stay behind and fill the quota.
    uint32_t ignored = 0;
    s.Exchange(
        "DELETE", putPath,
        [&](std::string_view auth) { return DeleteRequest(s.Target(), putPath, auth); }, {},
        nullptr, answer, ignored);
    return err;
}

// ---- Receive ----

int64_t RelayWorker::Receive(PacketConnection& conn, std::vector<uint8_t>& buffer, size_t nCapacity,
                             RelayReceiveInfo& info) {
    std::shared_ptr<RelayPeer> peer = PeerOf(conn);
    if (!peer)
        return 0;
    std::lock_guard lock(queueLock_);
    int nKind = -1;
    std::vector<uint32_t> sequences;
    for (const Queued& q : queue_)
        if (q.cPeer == peer->cName)
            nKind = std::max(nKind, q.nKind);
    if (nKind < 0)
        return 0;
    for (const Queued& q : queue_)
        if (q.cPeer == peer->cName && q.nKind == nKind)
            sequences.push_back(q.nSequence);
    uint32_t base = SerialBase(sequences);
    auto pick = queue_.end();
    for (auto it = queue_.begin(); it != queue_.end(); ++it)
        if (it->cPeer == peer->cName && it->nKind == nKind &&
            (pick == queue_.end() || it->nSequence - base < pick->nSequence - base))
            pick = it;
    int64_t n = static_cast<int64_t>(pick->packet.size());
    if (pick->packet.size() >= nCapacity || pick->packet.size() > buffer.size()) {
        buffer = std::move(pick->packet);
    } else {
        std::memcpy(buffer.data(), pick->packet.data(), pick->packet.size());
    }
    info.nUncompressedLength = pick->nUncompressedLength;
    info.nSequence = pick->nSequence;
    queue_.erase(pick);
    return n;
}

// ---- Poll ----

void RelayWorker::Poll(PacketConnection&) {
    std::vector<std::string> peersToStart;
    RunPoll(false, peersToStart);
    for (const std::string& name : peersToStart)
        options_.onPeer(name);
}

void RelayWorker::TimedPoll() {
    std::vector<std::string> peersToStart;
    RunPoll(true, peersToStart);
    for (const std::string& name : peersToStart)
        options_.onPeer(name);
}

void RelayWorker::RunPoll(bool fTimed, std::vector<std::string>& peersToStart) {
    if (fClosing_ || (options_.appClosing && options_.appClosing()))
        return;
    std::unique_lock poll(pollLock_, std::try_to_lock);
    if (!poll.owns_lock())
        return; // a poll runs already
    RunGuard run(idleLock_, idle_, nRunning_);
    auto storage = options_.storageLock ? options_.storageLock()
                                        : std::unique_ptr<void, void (*)(void*)>(nullptr, nullptr);
    if (clock_.Tick() < RELAY_STARTUP_QUIET_MS)
        return;
    Session s(*this, TLS_SLOT_POLL);
    if (found_.empty() && !List(s, peersToStart))
        return;
    FetchPhase(s, fTimed, peersToStart);
    if (!options_.onPeer)
        peersToStart.clear();
}

bool RelayWorker::List(Session& s, std::vector<std::string>& peersToStart) {
    std::string path = RelayFolder() + "/";
    uint32_t nStart = clock_.Tick();
    uint32_t nLimit = RELAY_LIST_LIMIT_MS;
    uint32_t err = 0;
    HttpAnswer answer;
    if (!s.Exchange(
            "PROPFIND", path,
            [&](std::string_view auth) { return PropfindRequest(s.Target(), path, auth); }, {},
            &nLimit, answer, err))
        return false;
    if (answer.nStatus == 404)
        SetSetupBits(0, 6);
    if (!Is2xx(answer.nStatus))
        return false;
    std::vector<std::shared_ptr<RelayPeer>> peers;
    {
        std::lock_guard lock(peersLock_);
        for (const auto& [conn, peer] : peers_) {
            peer->nBacklog = 0;
            peers.push_back(peer);
        }
    }
    auto find = [&](const std::string& name) -> std::shared_ptr<RelayPeer> {
        for (const auto& p : peers)
            if (p->cName == name)
                return p;
        return nullptr;
    };
    PropfindListing listing;
    std::string reason;
    if (!ParsePropfind(answer.body, listing, &reason))
        LogWrite("オンラインストレージ%sの一覧が読めません(%s)\r\n", account_->cHost.c_str(),
                 reason.c_str());
    uint32_t nBits = 1;
    std::set<std::string> toStart;
    for (const PropfindEntry& e : listing.entries) {
        nBits |= ListingFolderBits(e.cHref);
        std::string name = HrefFileName(e.cHref.empty() ? e.cDisplayName : e.cHref);
        RelayFileInfo info;
        if (e.nLength <= 5 || !ParseRelayName(name, info))
            continue;
        if (RelayFromServer(info.cBracket) != options_.fServer) {
            if (info.cReceiver != cName_)
                continue;
            std::shared_ptr<RelayPeer> peer = find(info.cSender);
            bool fRunning = peer && peer->fRunning;
            if (!options_.fServer && !fRunning)
                continue; // stays in the folder until its connection runs
            if (!fRunning && toStart.size() < RELAY_PEERS_FROM_LISTING_MAX)
                toStart.insert(info.cSender);
            found_.push_back({{info.nKind, info.nSequence, info.cSender}, peer});
        } else if (info.cSender == cName_) {
            if (std::shared_ptr<RelayPeer> peer = find(info.cReceiver);
                peer && peer->nBacklog < INT32_MAX)
                ++peer->nBacklog;
        }
    }
    peersToStart.assign(toStart.begin(), toStart.end());
    uint32_t nSetup;
    {
        std::lock_guard lock(account_->lock);
        nSetup = account_->nSetup;
    }
    if ((nSetup & 7) != nBits)
        SetSetupBits(nBits, 7 & ~nBits);
    uint32_t base[2];
    for (int kind = 0; kind < 2; ++kind) {
        std::vector<uint32_t> sequences;
        for (const Found& f : found_)
            if (f.file.nKind == kind)
                sequences.push_back(f.file.nSequence);
        base[kind] = SerialBase(sequences);
    }
    std::stable_sort(found_.begin(), found_.end(), [&](const Found& a, const Found& b) {
        if (a.file.nKind != b.file.nKind)
            return a.file.nKind > b.file.nKind;
        return a.file.nSequence - base[a.file.nKind] < b.file.nSequence - base[b.file.nKind];
    });
    if (Detail())
        LogFound();
    return clock_.Tick() - nStart <= RELAY_LIST_LIMIT_MS - 2000;
}

// The sorted found-file list, one detail line per entry.
void RelayWorker::LogFound() const {
    for (size_t i = 0; i < found_.size(); ++i) {
        const FoundFile& f = found_[i].file;
        char bracket = RelayBracket(!options_.fServer, f.nKind == 0);
        LogWrite("PROPFIND #%d %s%c%s.%08X\r\n", static_cast<int>(i),
                 found_[i].peer ? found_[i].peer->cName.c_str() : "", bracket, cName_.c_str(),
                 f.nSequence);
    }
}

// Time left for one request of a timed fetch phase; fOver once the phase is over.
uint32_t RelayWorker::Remaining(bool fTimed, bool& fOver) const {
    fOver = false;
    if (!fTimed) {
        std::lock_guard lock(account_->lock);
        return CappedRecvTimeout(account_->nRecvTimeout);
    }
    uint32_t nPassed = clock_.Tick() - nFetchStart_;
    fOver = nPassed > RELAY_TIMED_FETCH_MS;
    return fOver ? 0 : RELAY_TIMED_RECEIVE_MS - nPassed;
}

void RelayWorker::FetchPhase(Session& s, bool fTimed, std::vector<std::string>& peersToStart) {
    uint32_t nStart = NonZeroTickOf(clock_.Tick());
    if (fTimed)
        nFetchStart_ = nStart;
    uint32_t nBudget = options_.fetchBudget ? options_.fetchBudget() : 0;
    while (!found_.empty()) {
        if (fClosing_ || (options_.appClosing && options_.appClosing()))
            break;
        if (!options_.fServer && options_.fetchBudget && clock_.Tick() - nStart >= nBudget)
            break;
        Found f = found_.front();
        if (!f.peer) {
            f.peer = FindPeer(f.file.cSender); // started since the listing
            if (!f.peer) {
                found_.erase(found_.begin()); // the file stays in the folder
                continue;
            }
        }
        if (!options_.fServer && !f.peer->fRunning) {
            // Its thread ended since the listing: nobody would take the
            // packet, so the file waits in the folder for the next thread.
            found_.erase(found_.begin());
            continue;
        }
        bool fOver = false;
        uint32_t nLimit = Remaining(fTimed, fOver);
        if (fOver)
            break;
        Fetched result = FetchOne(s, f, fTimed, nLimit, peersToStart);
        if (result == Fetched::Stop)
            break;
        found_.erase(found_.begin());
    }
    nFetchStart_ = 0;
}

RelayWorker::Fetched RelayWorker::FetchOne(Session& s, const Found& f, bool fTimed, uint32_t nLimit,
                                           std::vector<std::string>& peersToStart) {
    char bracket = RelayBracket(!options_.fServer, f.file.nKind == 0);
    std::string name = RelayFileNameEncoded(f.peer->cName, bracket, cName_, f.file.nSequence);
    std::string path = RelayFolder() + "/" + name;
    uint32_t nGetLimit = nLimit;
    uint32_t err = 0;
    bool fBroken = false; // removed, not moved aside
    HttpAnswer answer;
    bool fAnswered = s.Exchange(
        "GET", path, [&](std::string_view auth) { return GetRequest(s.Target(), path, auth); }, {},
        &nGetLimit, answer, err);
    if (fAnswered && Is2xx(answer.nStatus)) {
        stall_.Forget(path);
        if (pending_.count(path) == 0 && TakeBody(path, answer.body, f) && !f.peer->fRunning) {
            if (peersToStart.size() < RELAY_PEERS_FROM_LISTING_MAX &&
                std::find(peersToStart.begin(), peersToStart.end(), f.peer->cName) ==
                    peersToStart.end())
                peersToStart.push_back(f.peer->cName);
        }
    } else if (fAnswered && (answer.nStatus == 404 || answer.nStatus == 410)) {
        stall_.Forget(path);
        pending_.erase(path);
        return Fetched::Removed; // gone already
    } else {
        if (fAnswered)
            LogWrite("オンラインストレージ%s読み出しでHTTPエラー応答(%d)\r\n",
                     account_->cHost.c_str(), answer.nStatus);
        if (!fAnswered && err == WSAETIMEDOUT_CODE && !fTimed) {
            uint32_t nRaised = CappedRecvTimeout(nGetLimit);
            bool fCapped;
            {
                std::lock_guard lock(account_->lock);
                fCapped = account_->nRecvTimeout >= RELAY_RECV_TIMEOUT_MAX;
                account_->nRecvTimeout = nRaised;
            }
            SaveNumber("RecvTimeout", nRaised);
            if (!fCapped)
                return Fetched::Stop;
        } else if (!fAnswered && err != ERR_RECV_STALLED && err != ERR_NOT_HTTP) {
            return Fetched::Stop; // the storage cannot be reached: try again later
        }
        if (!stall_.Stalled(path))
            return Fetched::Stop;
        if (!fNoMove_) {
            Quarantine(s, path, name);
            return Fetched::Stop;
        }
        // Broken, and the server cannot move it aside: remove it.
        fBroken = true;
    }
    if (fClosing_)
        return Fetched::Stop;
    uint32_t nDeleteLimit = RELAY_REMOVE_LIMIT_MS;
    if (fTimed) {
        // The removal is a request of the timed phase too: past its time the
        // file stays (taken already, it is removed at its next fetch).
        bool fOver = false;
        nDeleteLimit = Remaining(true, fOver);
        if (fOver) {
            pending_.insert(path);
            return Fetched::Stop;
        }
    }
    if (!s.Exchange(
            "DELETE", path,
            [&](std::string_view auth) { return DeleteRequest(s.Target(), path, auth); }, {},
            &nDeleteLimit, answer, err)) {
        pending_.insert(path);
        return Fetched::Stop;
    }
    if (Is2xx(answer.nStatus)) {
        if (Detail())
            LogWrite("DELETE %s%s response=%d\r\n", account_->cHost.c_str(), path.c_str(),
                     answer.nStatus);
        if (fBroken)
            LogWrite("オンラインストレージファイル%s破損のため削除\r\n", name.c_str());
    }
    if (Is2xx(answer.nStatus) || answer.nStatus == 404)
        pending_.erase(path);
    else
        pending_.insert(path);
    stall_.Forget(path);
    return Fetched::Removed;
}

void RelayWorker::Quarantine(Session& s, const std::string& path, const std::string& name) {
    HttpAnswer answer;
    uint32_t err = 0;
    std::string destination = path + ".err";
    uint32_t nLimit = RELAY_REMOVE_LIMIT_MS;
    if (Detail())
        LogWrite("MOVE %s%s.err\r\n", account_->cHost.c_str(), path.c_str());
    if (!s.Exchange(
            "MOVE", path,
            [&](std::string_view auth) {
                return QuarantineRequest(s.Target(), path, destination, auth);
            },
            {}, &nLimit, answer, err))
        return;
    if (Is2xx(answer.nStatus)) {
        LogWrite("オンラインストレージファイル%s破損のためリネーム\r\n", name.c_str());
        stall_.Forget(path);
    } else if (answer.nStatus == 501) {
        fNoMove_ = true;
    }
}

// Checks and queues one fetched body. False when nothing was queued.
bool RelayWorker::TakeBody(const std::string& path, const std::string& body, const Found& f) {
    size_t nPrefix = kPrefix;
    RelayCheckValue accepted{};
    bool fChecked = false;
    if (body.size() < kPrefix) {
        LogWrite("オンラインストレージ%s読出データ長異常(%d)\r\n", account_->cHost.c_str(),
                 static_cast<int>(body.size()));
        return false;
    }
    if (options_.fServer) {
        bool fDuplicate = false;
        fChecked = CheckClientFile(*f.peer, body, nPrefix, accepted, fDuplicate);
        if (!fChecked && fDuplicate)
            return false;
        if (!fChecked && nPrefix == 0)
            return false;
    }
    if (body.size() <= nPrefix) {
        LogWrite("オンラインストレージ%s読出データ長異常(%d)\r\n", account_->cHost.c_str(),
                 static_cast<int>(body.size()));
        return false;
    }
    if (Detail())
        LogWrite(
            "GET %s%s length=%d %s\r\n", account_->cHost.c_str(), path.c_str(),
            static_cast<int>(body.size()),
            TypeNameOf(std::span<const uint8_t>(
                reinterpret_cast<const uint8_t*>(body.data()) + nPrefix, body.size() - nPrefix)));
    Queued q;
    q.nKind = f.file.nKind;
    q.nSequence = f.file.nSequence;
    q.nUncompressedLength = LoadLe32(reinterpret_cast<const uint8_t*>(body.data()));
    q.packet.assign(body.begin() + static_cast<std::ptrdiff_t>(nPrefix), body.end());
    q.cPeer = f.peer->cName;
    if (fChecked) {
        // The chain moves when the file is accepted, not when its removal
        // succeeds: a failed DELETE must not make the next file fail.
        f.peer->SetChain(accepted);
        lastAccepted_[f.peer->cName] = accepted;
    }
    std::lock_guard lock(queueLock_);
    queue_.push_back(std::move(q));
    return true;
}

// Server: whether a client file may be queued. nPrefix receives the bytes
// before the packet, 0 when the file is refused.
bool RelayWorker::CheckClientFile(RelayPeer& peer, const std::string& body, size_t& nPrefix,
                                  RelayCheckValue& accepted, bool& fDuplicate) {
    nPrefix = 0;
    if (body.size() <= kPrefix)
        return false;
    uint8_t marker = static_cast<uint8_t>(body[kPrefix]);
    if (!peer.fLoggedIn) {
        if (marker == kMarkerCheck)
            return false; // dropped: a checked file before the login
        nPrefix = kPrefix + 1;
        return false;
    }
    if (marker != kMarkerCheck || body.size() < kPrefix + 1 + 16) {
        peer.fStopRequest = true;
        return false;
    }
    RelayCheckValue value;
    std::memcpy(value.data(), body.data() + kPrefix + 1, value.size());
    if (value == RelayCheck(peer.Password(), peer.Chain())) {
        accepted = value;
        nPrefix = kPrefix + 1 + 16;
        return true;
    }
    auto last = lastAccepted_.find(peer.cName);
    if (last != lastAccepted_.end() && last->second == value) {
        fDuplicate = true; // accepted before; its removal had failed
        return false;
    }
    peer.fStopRequest = true;
    return false;
}

} // namespace brindle
