#include "server/connections/connection_manager.h"

#include "common/error_codes.h"
#include "common/error_text.h"
#include "common/ini_text.h"
#include "common/log.h"
#include "common/os_error.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <new>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <system_error>

namespace brindle {

namespace {

void Wake(int fd) {
    if (fd < 0)
        return;
    uint64_t one = 1;
    ssize_t r = ::write(fd, &one, sizeof one);
    (void)r; // a full counter already wakes the reader
}

} // namespace

ConnectionManager::ConnectionManager(ServerContext& context, std::string cBindAddress)
    : context_(context), cBindAddress_(std::move(cBindAddress)), pacer_(context.clock) {
    context_.property.SetWaker([this] { NotifyWork(); });
}

ConnectionManager::~ConnectionManager() {
    StopAll();
    context_.property.SetWaker(nullptr);
}

// --- records and threads ---

// The record of a peer name, created when there is none. Under listLock_.
ClientConnection* ConnectionManager::FindOrCreate(const std::string& cPeerName) {
    for (auto& record : records_) {
        if (IniNameEqual(record->cPeerName, cPeerName))
            return record.get();
    }
    auto record = std::unique_ptr<ClientConnection>(new (std::nothrow) ClientConnection);
    if (!record)
        return nullptr;
    ClientConnection* p = record.get();
    p->cPeerName = cPeerName;
    p->packet.cPeerName = cPeerName;
    p->packet.pClock = &context_.clock;
    p->packet.pSleeper = &context_.sleeper;
    p->packet.stopRequested = [p] { return p->nStopRequest.load() != STOP_NONE; };
    p->packet.imageCipher.hooks.pClock = &context_.clock;
    p->packet.imageCipher.hooks.pSleeper = &context_.sleeper;
    try {
        records_.push_back(std::move(record));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return p;
}

void ConnectionManager::StopAndJoin(ClientConnection& record) {
    if (!record.thread.joinable())
        return;
    if (record.Running()) {
        std::lock_guard<std::mutex> lock(listLock_);
        record.nStopRequest.store(STOP_REQUEST);
        Wake(record.wake.Get());
    }
    record.thread.join();
}

// An old thread of a peer that came back: told to stop and set aside, so
// that accepting never waits for it. Its socket stops reading, so it no
// longer waits for a packet; its disconnect still goes out, unless the
// peer takes nothing, which a stopping send does not wait for. Under
// listLock_.
void ConnectionManager::Retire(std::vector<std::unique_ptr<ClientConnection>>::iterator it) {
    ClientConnection& record = **it;
    record.nStopRequest.store(STOP_REQUEST);
    Wake(record.wake.Get());
    {
        std::lock_guard<std::mutex> lock(record.socketLock);
        if (record.socket.Valid())
            ::shutdown(record.socket.Get(), SHUT_RD);
    }
    retiring_.push_back(std::move(*it));
    records_.erase(it);
}

// Joins the threads that have ended (they only return now) and lets go of
// old records. Under listLock_.
void ConnectionManager::ReapLocked() {
    std::erase_if(retiring_, [this](const std::unique_ptr<ClientConnection>& record) {
        if (record->Running())
            return false;
        if (record->thread.joinable())
            record->thread.join();
        if (record.get() == pLastLoggedIn_)
            pLastLoggedIn_ = nullptr;
        return true;
    });
    for (auto& record : records_) {
        if (!record->Running() && record->thread.joinable())
            record->thread.join();
    }
    DropEndedLocked();
}

// Every address that ever connected would otherwise keep a record for the
// life of the process. Relayed records stay: the relay holds on to them.
void ConnectionManager::DropEndedLocked() {
    auto droppable = [this](const std::unique_ptr<ClientConnection>& record) {
        return !record->Running() && !record->thread.joinable() && !record->Relayed() &&
               record.get() != pLastLoggedIn_;
    };
    size_t nEnded = static_cast<size_t>(std::count_if(records_.begin(), records_.end(), droppable));
    while (nEnded > ENDED_RECORDS_KEPT) {
        auto oldest = records_.end();
        for (auto it = records_.begin(); it != records_.end(); ++it) {
            if (droppable(*it) &&
                (oldest == records_.end() || (*it)->nStartSequence < (*oldest)->nStartSequence))
                oldest = it;
        }
        records_.erase(oldest);
        --nEnded;
    }
}

// The record of a peer, ready for a new thread; null (logged) when no
// record can be had. A direct peer's old thread that still runs is retired
// with its record; a relayed one's was stopped beforehand (WaitEnded), as
// the relay keeps pointing at its record.
ClientConnection* ConnectionManager::RecordToStart(const std::string& cPeerName) {
    ClientConnection* record = nullptr;
    {
        std::lock_guard<std::mutex> lock(listLock_);
        ReapLocked();
        auto it = std::find_if(records_.begin(), records_.end(), [&](const auto& r) {
            return IniNameEqual(r->cPeerName, cPeerName);
        });
        if (it != records_.end() && (*it)->Running() && !(*it)->Relayed())
            Retire(it);
        record = FindOrCreate(cPeerName);
        if (record != nullptr)
            record->nStartSequence = ++nStarts_;
    }
    if (record == nullptr) {
        LogWrite("サーバ管理メモリ確保に失敗\r\n");
        return nullptr;
    }
    StopAndJoin(*record);
    return record;
}

uint32_t ConnectionManager::Launch(ClientConnection& record) {
    record.nStopRequest.store(STOP_NONE);
    uint32_t err = 0;
    {
        std::lock_guard<std::mutex> lock(listLock_);
        record.wake.Reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
        if (!record.wake.Valid()) {
            err = LastOsError();
            LogWrite("サーバ管理メモリ確保に失敗\r\n");
        }
    }
    if (err == 0) {
        record.nThreadId.store(1);
        try {
            record.thread = std::thread(ConnectionThreadMain, std::ref(*this), std::ref(record));
            return 0;
        } catch (const std::system_error& e) {
            err = MapErrno(e.code().value());
            LogWrite("サーバスレッド作成に失敗(0x%08X-%s)\r\n", err, ErrorText(err).c_str());
        }
    }
    record.nThreadId.store(0);
    record.nTransport.store(0);
    {
        std::lock_guard<std::mutex> lock(listLock_);
        record.wake.Reset();
    }
    std::lock_guard<std::mutex> lock(record.socketLock);
    record.socket.Reset();
    record.packet.nSocket = -1;
    return err;
}

void ConnectionManager::ThreadEnding(ClientConnection& record) {
    std::lock_guard<std::mutex> lock(listLock_);
    record.wake.Reset();
    std::vector<uint8_t>().swap(record.packet.sendArea);
    std::vector<uint8_t>().swap(record.packet.receiveArea);
}

uint32_t ConnectionManager::StartDirect(const std::string& cPeerName, UniqueFd socket,
                                        int nPeerPort) {
    std::lock_guard<std::mutex> start(startLock_);
    if (fClosing_.load())
        return 0;
    ClientConnection* record = RecordToStart(cPeerName);
    if (record == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY_CODE;
    {
        std::lock_guard<std::mutex> lock(record->socketLock);
        record->packet.nSocket = socket.Get();
        record->socket = std::move(socket);
    }
    record->packet.fRelayed = false;
    record->packet.pRelay = nullptr;
    record->nTransport.store(nPeerPort > 0 ? nPeerPort : 1);
    return Launch(*record);
}

// A relayed peer's old thread is stopped and awaited here, on the caller's
// thread and before the start lock is taken, so that the listener does not
// wait for it.
void ConnectionManager::WaitEnded(const std::string& cPeerName) {
    ClientConnection* record = nullptr;
    {
        std::lock_guard<std::mutex> lock(listLock_);
        for (auto& r : records_) {
            if (IniNameEqual(r->cPeerName, cPeerName) && r->Running()) {
                record = r.get();
                record->nStopRequest.store(STOP_REQUEST);
                Wake(record->wake.Get());
            }
        }
    }
    // Records with a relay are never dropped, so the pointer stays good.
    while (record != nullptr && record->Relayed() && record->Running() && !fClosing_.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

uint32_t ConnectionManager::StartRelayed(const std::string& cPeerName, RelayTransport* pRelay,
                                         const RelayIntervals& intervals, ClientConnection** ppSlot,
                                         const std::function<void(ClientConnection&)>& prepare) {
    if (ppSlot != nullptr)
        *ppSlot = nullptr;
    WaitEnded(cPeerName);
    std::lock_guard<std::mutex> start(startLock_);
    if (fClosing_.load())
        return 0;
    ClientConnection* record = RecordToStart(cPeerName);
    if (record == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY_CODE;
    record->pRelayAccount = pRelay;
    record->relayIntervals = intervals;
    record->packet.fRelayed = true;
    record->packet.pRelay = pRelay;
    record->nTransport.store(0);
    // The relay learns of the record before its thread can use the relay.
    if (prepare)
        prepare(*record);
    if (record->relayPeer)
        record->relayPeer->fRunning.store(true);
    uint32_t err = Launch(*record);
    if (err != 0 && record->relayPeer)
        record->relayPeer->fRunning.store(false);
    if (err == 0 && ppSlot != nullptr)
        *ppSlot = record;
    return err;
}

void ConnectionManager::NotifyWork() {
    std::lock_guard<std::mutex> lock(listLock_);
    for (auto& record : records_) {
        if (record->Running())
            Wake(record->wake.Get());
    }
}

void ConnectionManager::StandDownOthers(const ClientConnection* self) {
    std::lock_guard<std::mutex> lock(listLock_);
    pLastLoggedIn_ = self;
    for (auto& record : records_) {
        if (record.get() == self)
            continue;
        record->nStopRequest.store(STOP_STAND_DOWN);
        Wake(record->wake.Get());
    }
}

bool ConnectionManager::AnotherLoggedIn(const ClientConnection* self) {
    std::lock_guard<std::mutex> lock(listLock_);
    for (auto& record : records_) {
        if (record.get() != self && record->Running() && record->nLoginState.load() == LOGIN_DONE)
            return true;
    }
    return false;
}

std::vector<ConnectionInfo> ConnectionManager::Snapshot() {
    std::lock_guard<std::mutex> lock(listLock_);
    std::vector<ConnectionInfo> out;
    for (auto& record : records_) {
        out.push_back(ConnectionInfo{record->cPeerName, record->Running(),
                                     record->nLoginState.load(), record->nStopRequest.load(),
                                     record->nTransport.load()});
    }
    return out;
}

size_t ConnectionManager::UnjoinedThreads() {
    std::lock_guard<std::mutex> lock(listLock_);
    size_t n = 0;
    for (const auto* list : {&records_, &retiring_}) {
        for (const auto& record : *list) {
            if (!record->Running() && record->thread.joinable())
                ++n;
        }
    }
    return n;
}

void ConnectionManager::StopAll(uint32_t nGraceMs, const std::function<void()>& abandonRelay) {
    fClosing_.store(true);
    CloseListener();
    std::lock_guard<std::mutex> start(startLock_);
    std::vector<ClientConnection*> records;
    {
        std::lock_guard<std::mutex> lock(listLock_);
        for (const auto* list : {&retiring_, &records_}) {
            for (const auto& record : *list) {
                records.push_back(record.get());
                if (record->Running()) {
                    record->nStopRequest.store(STOP_REQUEST);
                    Wake(record->wake.Get());
                }
            }
        }
    }
    // A thread normally ends within its 5 s wait for the client's
    // disconnect (a stalled send or packet gives up at the stop request).
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nGraceMs);
    bool fAbandoned = false;
    for (ClientConnection* record : records) {
        while (record->Running() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (record->Running()) {
            std::lock_guard<std::mutex> lock(record->socketLock);
            if (record->socket.Valid())
                ::shutdown(record->socket.Get(), SHUT_RDWR);
        }
        if (record->Running() && record->Relayed() && abandonRelay && !fAbandoned) {
            fAbandoned = true;
            abandonRelay();
        }
        if (record->thread.joinable())
            record->thread.join();
    }
}

} // namespace brindle
