#include "storage/relay_background.h"

#include "common/log.h"
#include "platform/file_lock.h"

#include <system_error>

namespace brindle {

RelayBackground::RelayBackground(RelayWorker& worker, const Clock& clock)
    : worker_(worker), clock_(clock) {}

RelayBackground::~RelayBackground() {
    Stop();
}

bool RelayBackground::Launch() {
    try {
        thread_ = std::thread([this] { ThreadMain(); });
        return true;
    } catch (const std::system_error& e) {
        return false;
    }
}

void RelayBackground::Start() {
    {
        std::lock_guard lock(lock_);
        fStop_ = false;
        fResume_ = false;
    }
    fBusy_ = false;
    if (Launch())
        LogWrite("ストレージ確認スレッド作成\r\n");
    else
        LogWrite("ストレージ確認スレッド作成失敗(%08X)\r\n", 8u);
}

void RelayBackground::Stop() {
    {
        std::lock_guard lock(lock_);
        fStop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        worker_.Abandon();
        thread_.join();
        worker_.EndAbandon();
    }
}

void RelayBackground::ThreadMain() {
    for (;;) {
        {
            std::unique_lock lock(lock_);
            wake_.wait(lock, [&] { return fResume_ || fStop_; });
            if (fStop_)
                return;
            fResume_ = false;
        }
        bool fSetup;
        {
            std::lock_guard lock(worker_.Account().lock);
            fSetup = worker_.Account().nSetup != 0;
        }
        if (fSetup)
            worker_.TimedPoll();
        fBusy_ = false;
    }
}

void RelayBackground::OnTimer() {
    if (!fBusy_.exchange(true)) {
        {
            std::lock_guard lock(lock_);
            fResume_ = true;
        }
        wake_.notify_all();
        return;
    }
    Watch();
}

void RelayBackground::Watch() {
    uint32_t nStart = worker_.FetchStartTick();
    uint32_t nSuspend = nSuspend_, nResume = nResume_;
    if (nStart == 0 || (nSuspend != 0 && nResume == 0))
        return;
    int32_t nSlept = static_cast<int32_t>(nResume - nSuspend);
    if (nSlept < 0)
        return; // asleep now
    uint32_t nPassed = clock_.Tick() - nStart - static_cast<uint32_t>(nSlept);
    if (nPassed <= RELAY_WATCHDOG_MS)
        return;
    LogWrite("応答の無いストレージ確認スレッド(%08X)を強制終了(%08X)\r\n",
             static_cast<uint32_t>(std::hash<std::thread::id>()(thread_.get_id())), 0u);
    // The poll returns as soon as its request sees the wake; then the
    // thread waits for the next resume, and it is replaced.
    worker_.Abandon();
    {
        std::lock_guard lock(lock_);
        fStop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
    worker_.EndAbandon();
    {
        std::lock_guard lock(lock_);
        fStop_ = false;
        fResume_ = false;
    }
    ++nRestarts_;
    if (Launch())
        LogWrite("ストレージ確認スレッド再起動\r\n");
    else
        LogWrite("ストレージ確認スレッド再起動失敗(%08X)\r\n", 8u);
    fBusy_ = false;
}

} // namespace brindle

namespace brindle {

namespace {

struct StorageHold {
    std::unique_lock<std::mutex> inProcess;
    FileLock file;
};

std::mutex& ServerStorageMutex() {
    static std::mutex lock; // the process's share of the named lock
    return lock;
}

} // namespace

std::unique_ptr<void, void (*)(void*)> HoldServerStorage() {
    auto* hold = new StorageHold;
    hold->inProcess = std::unique_lock(ServerStorageMutex());
    std::string path;
    if (WebDavLockPath(path) == 0)
        hold->file.Lock(path);
    return {hold, [](void* p) { delete static_cast<StorageHold*>(p); }};
}

} // namespace brindle
