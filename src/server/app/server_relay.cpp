#include "server/app/server_relay.h"

#include "common/log.h"

#include <algorithm>

namespace brindle {

ServerRelay::ServerRelay(ConnectionManager& connections, const Clock& clock, Power& power)
    : connections_(connections), clock_(clock), power_(power) {}

ServerRelay::~ServerRelay() {
    StopBackground();
    Close();
}

uint32_t ServerRelay::Start(const std::string& settingsFile, const std::string& computerName,
                            bool fWebdav) {
    if (!fWebdav)
        return 0;
    store_ = std::make_unique<AccountStore>(settingsFile);
    store_->LoadAccounts();
    std::vector<AccountPtr> accounts = store_->Accounts();
    if (accounts.empty())
        return 0;
    account_ = accounts.front();
    RelayWorkerOptions options;
    options.fServer = true;
    options.cComputerName = computerName;
    options.pClock = &clock_;
    options.storageLock = HoldServerStorage;
    options.onPeer = [this](const std::string& name) {
        std::lock_guard lock(peersLock_);
        if (std::find(peersToStart_.begin(), peersToStart_.end(), name) == peersToStart_.end())
            peersToStart_.push_back(name);
    };
    auto worker = std::make_unique<RelayWorker>(account_, options);
    if (uint32_t err = worker->Start(); err != 0)
        return err;
    worker_ = std::move(worker);
    store_->SetInUse(*account_, 1);
    background_ = std::make_unique<RelayBackground>(*worker_, clock_);
    background_->Start();
    ArmWakeTimer();
    nTimerTick_ = clock_.Tick();
    return 0;
}

// A suspended server still polls its storage now and then: the power layer
// wakes it (a kernel alarm timer where the process may set one).
void ServerRelay::ArmWakeTimer() {
    uint32_t nMinutes;
    {
        std::lock_guard lock(account_->lock);
        nMinutes = std::max<uint32_t>(account_->nWakeInterval, 1);
    }
    if (uint32_t err = power_.SetWakeTimer(nMinutes); err == 0)
        LogWrite("オンラインストレージ確認サスペンド復帰タイマ設定\r\n");
    else
        LogWrite("オンラインストレージ確認サスペンド復帰タイマ設定失敗(%08X)\r\n", err);
}

void ServerRelay::Tick(uint32_t nNow) {
    if (!worker_)
        return;
    uint32_t nWait;
    {
        std::lock_guard lock(account_->lock);
        nWait = std::max<uint32_t>(account_->nWaitInterval, 1) * 1000u;
    }
    if (nNow - nTimerTick_ >= nWait) {
        nTimerTick_ = nNow;
        background_->OnTimer();
    }
    std::vector<std::string> names;
    {
        std::lock_guard lock(peersLock_);
        names.swap(peersToStart_);
    }
    for (const std::string& name : names)
        StartPeer(name);
}

void ServerRelay::StartPeer(const std::string& name) {
    RelayIntervals intervals;
    {
        std::lock_guard lock(account_->lock);
        intervals.nInterval = std::max<uint32_t>(account_->nInterval, 1);
        intervals.nWaitInterval = std::max<uint32_t>(account_->nWaitInterval, 1);
    }
    RelayWorker& worker = *worker_;
    uint32_t err = connections_.StartRelayed(name, &worker, intervals, nullptr,
                                             [&worker, &name](ClientConnection& record) {
                                                 auto peer = std::make_shared<RelayPeer>();
                                                 peer->cName = name;
                                                 record.relayPeer = peer;
                                                 worker.Attach(record.packet, peer);
                                             });
    if (err != 0)
        LogWrite("%sとの中継接続を開始できません(%08X)\r\n", name.c_str(), err);
}

void ServerRelay::Suspending() {
    if (background_)
        background_->OnSuspend();
}

void ServerRelay::Resumed() {
    if (background_)
        background_->OnResume();
}

void ServerRelay::StopBackground() {
    if (background_)
        background_->Stop();
}

void ServerRelay::AbandonRequests() {
    if (worker_)
        worker_->Abandon();
}

void ServerRelay::Close() {
    background_.reset();
    if (worker_) {
        power_.CancelWakeTimer();
        worker_->Close();
        store_->SetInUse(*account_, 0);
    }
}

} // namespace brindle
