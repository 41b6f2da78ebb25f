#include "client/app/client_relay.h"

#include "common/log.h"
#include "common/text_utils.h"
#include "storage/relay_names.h"

#include <algorithm>

namespace brindle {

AccountLink::AccountLink(ClientRelay& relay, AccountPtr account)
    : relay_(relay), account_(std::move(account)) {}

AccountLink::~AccountLink() {
    Close();
}

std::string AccountLink::Name() const {
    return account_->cUri;
}

uint32_t AccountLink::IntervalSeconds() const {
    std::lock_guard lock(account_->lock);
    return std::max<uint32_t>(account_->nInterval, 1);
}

uint32_t AccountLink::SendNo() const {
    std::lock_guard lock(account_->lock);
    return account_->nSendNo;
}

void AccountLink::AddInuse(int32_t nDelta) {
    std::lock_guard lock(account_->lock);
    int64_t n = std::max<int64_t>(int64_t{account_->nInuse} + nDelta, 0);
    account_->nInuse = static_cast<uint32_t>(std::min<int64_t>(n, UINT32_MAX));
    SaveAccountNumber(*account_, "Inuse", account_->nInuse);
}

RelayTransport* AccountLink::Worker() {
    std::lock_guard lock(lock_);
    return worker_;
}

RelayTransport* AccountLink::RestartWorker() {
    std::lock_guard lock(lock_);
    if (worker_ != nullptr)
        return worker_;
    if (relay_.Closing())
        return nullptr;
    RelayWorkerOptions options;
    options.fServer = false;
    options.cComputerName = relay_.ComputerName();
    options.pClock = relay_.Context().pClock;
    options.appClosing = [this] { return relay_.Closing(); };
    options.fetchBudget = [this] { return FetchBudget(); };
    auto worker = std::make_unique<RelayWorker>(account_, options);
    if (worker->Start() != 0)
        return nullptr;
    worker_ = worker.get();
    workers_.push_back(std::move(worker));
    return worker_;
}

std::shared_ptr<RelayPeer> AccountLink::Attach(PacketConnection& conn,
                                               const std::string& cAddress) {
    auto peer = std::make_shared<RelayPeer>();
    if (!RelayPeerName(cAddress, peer->cName))
        return nullptr;
    std::lock_guard lock(lock_);
    if (worker_ == nullptr)
        return nullptr;
    worker_->Attach(conn, peer);
    return peer;
}

void AccountLink::Detach(PacketConnection& conn) {
    std::lock_guard lock(lock_);
    for (const auto& worker : workers_)
        worker->Detach(conn);
}

void AccountLink::PollNow(PacketConnection& conn) {
    RelayWorker* worker;
    {
        std::lock_guard lock(lock_);
        worker = worker_;
    }
    if (worker != nullptr)
        worker->Poll(conn);
}

void AccountLink::CloseWorker() {
    RelayWorker* worker;
    {
        std::lock_guard lock(lock_);
        worker = worker_;
        worker_ = nullptr;
    }
    // Outside the lock: Close waits for a poll of another thread to end.
    if (worker != nullptr)
        worker->Close();
}

void AccountLink::Close() {
    CloseWorker();
    std::lock_guard lock(lock_);
    for (const auto& worker : workers_)
        worker->Close();
}

// A fetch phase may take, over the servers that relay through this account,
// the sum of max(cameras, 1) x Interval seconds.
uint32_t AccountLink::FetchBudget() const {
    uint64_t nCameras = 0;
    {
        ClientContext& ctx = relay_.Context();
        std::lock_guard lock(ctx.lock);
        for (const auto& psp : ctx.servers)
            if (psp->IsStorageLinked() && psp->pStorage == this)
                nCameras += std::max<size_t>(psp->cameras.size(), 1);
    }
    uint64_t nBudget = nCameras * IntervalSeconds() * 1000u;
    return static_cast<uint32_t>(std::min<uint64_t>(nBudget, UINT32_MAX));
}

ClientRelay::ClientRelay(ClientContext& ctx, const std::string& cSettingsFile,
                         std::string cComputerName)
    : ctx_(ctx), cComputerName_(std::move(cComputerName)), store_(cSettingsFile) {}

ClientRelay::~ClientRelay() {
    Close();
}

AccountLink* ClientRelay::Link(std::string_view uri) {
    store_.LoadAccounts();
    AccountPtr account;
    for (const AccountPtr& a : store_.Accounts())
        if (uri.empty() || EqualNoCase(a->cUri, uri)) {
            account = a;
            break;
        }
    if (!account)
        return nullptr;
    std::lock_guard lock(lock_);
    for (const auto& link : links_)
        if (link->Account() == account)
            return link.get();
    links_.push_back(std::make_unique<AccountLink>(*this, account));
    return links_.back().get();
}

void ClientRelay::Close() {
    fClosing_ = true;
    std::lock_guard lock(lock_);
    for (const auto& link : links_)
        link->Close();
}

AccountLink* StorageLinkFor(ClientRelay& relay, const ServerParams& psp, std::string_view uri) {
    AccountLink* link = nullptr;
    if (!uri.empty()) {
        link = relay.Link(uri);
    } else {
        if (!psp.cStorage.empty())
            link = relay.Link(psp.cStorage);
        if (link == nullptr)
            link = relay.Link("");
    }
    uint32_t nSetup = 0;
    if (link != nullptr) {
        std::lock_guard lock(link->Account()->lock);
        nSetup = link->Account()->nSetup;
    }
    if (link == nullptr || nSetup == 0) {
        LogWrite("サーバ%sのオンラインストレージ設定が不十分なため自動接続を中止\r\n",
                 psp.cAddress.c_str());
        return nullptr;
    }
    return link;
}

} // namespace brindle
