#include "server/connections/connection_manager.h"

#include "common/error_codes.h"
#include "common/error_text.h"
#include "common/ini_text.h"
#include "common/log.h"
#include "common/os_error.h"

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
    : context_(context), cBindAddress_(std::move(cBindAddress)) {}

ConnectionManager::~ConnectionManager() {
    StopAll();
}

// --- records and threads ---

ClientConnection* ConnectionManager::FindOrCreate(const std::string& cPeerName, bool& fCreated) {
    std::lock_guard<std::mutex> lock(listLock_);
    fCreated = false;
    for (auto& record : records_) {
        if (IniNameEqual(record->cPeerName, cPeerName))
            return record.get();
    }
    auto record = std::unique_ptr<ClientConnection>(new (std::nothrow) ClientConnection);
    if (!record)
        return nullptr;
    record->wake.Reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!record->wake.Valid())
        return nullptr;
    record->cPeerName = cPeerName;
    record->packet.cPeerName = cPeerName;
    record->packet.pClock = &context_.clock;
    record->packet.pSleeper = &context_.sleeper;
    record->packet.imageCipher.hooks.pClock = &context_.clock;
    record->packet.imageCipher.hooks.pSleeper = &context_.sleeper;
    try {
        records_.push_back(std::move(record));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    fCreated = true;
    return records_.back().get();
}

void ConnectionManager::StopAndJoin(ClientConnection& record) {
    if (!record.thread.joinable())
        return;
    if (record.Running()) {
        record.nStopRequest.store(STOP_REQUEST);
        Wake(record.wake.Get());
    }
    record.thread.join();
}

// The record of a peer, with its old thread stopped and joined, ready for a
// new one; null (logged) when no record can be had.
ClientConnection* ConnectionManager::RecordToStart(const std::string& cPeerName) {
    bool fCreated = false;
    ClientConnection* record = FindOrCreate(cPeerName, fCreated);
    if (record == nullptr) {
        LogWrite("サーバ管理メモリ確保に失敗\r\n");
        return nullptr;
    }
    StopAndJoin(*record);
    return record;
}

uint32_t ConnectionManager::Launch(ClientConnection& record) {
    record.nStopRequest.store(STOP_NONE);
    record.nThreadId.store(1);
    try {
        record.thread = std::thread(ConnectionThreadMain, std::ref(*this), std::ref(record));
    } catch (const std::system_error& e) {
        uint32_t err = MapErrno(e.code().value());
        LogWrite("サーバスレッド作成に失敗(0x%08X-%s)\r\n", err, ErrorText(err).c_str());
        record.nThreadId.store(0);
        std::lock_guard<std::mutex> lock(record.socketLock);
        record.socket.Reset();
        record.packet.nSocket = -1;
        return err;
    }
    return 0;
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

uint32_t ConnectionManager::StartRelayed(const std::string& cPeerName, RelayTransport* pRelay,
                                         const RelayIntervals& intervals,
                                         ClientConnection** ppSlot) {
    if (ppSlot != nullptr)
        *ppSlot = nullptr;
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
    uint32_t err = Launch(*record);
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

void ConnectionManager::StopAll(uint32_t nGraceMs) {
    fClosing_.store(true);
    CloseListener();
    std::lock_guard<std::mutex> start(startLock_);
    std::vector<ClientConnection*> records;
    {
        std::lock_guard<std::mutex> lock(listLock_);
        for (auto& record : records_) {
            records.push_back(record.get());
            if (record->Running()) {
                record->nStopRequest.store(STOP_REQUEST);
                Wake(record->wake.Get());
            }
        }
    }
    // A thread normally ends within its 5 s disconnect wait; one stuck in a
    // send to a peer that stopped reading is cut short.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nGraceMs);
    for (ClientConnection* record : records) {
        while (record->Running() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (record->Running()) {
            std::lock_guard<std::mutex> lock(record->socketLock);
            if (record->socket.Valid())
                ::shutdown(record->socket.Get(), SHUT_RDWR);
        }
        if (record->thread.joinable())
            record->thread.join();
    }
}

} // namespace brindle
