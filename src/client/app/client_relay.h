// BrindleView's side of the storage relay: the accounts of BrindleView.ini
// and, for each account a storage-linked server uses, a StorageLink that
// runs a relay worker while connection threads use it.
//
// The client has no storage lock across processes and no background
// check: its connection threads upload and poll themselves, an upload and
// a poll of one account at the same time (the account's lock guards SendNo
// and Setup). Files of a server whose thread does not run stay in the
// folder.
#pragma once

#include "client/connections/client_context.h"
#include "client/connections/storage_link.h"
#include "storage/relay_worker.h"
#include "storage/storage_account.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

class ClientRelay;

// One account as the connection threads see it.
class AccountLink : public StorageLink {
  public:
    AccountLink(ClientRelay& relay, AccountPtr account);
    ~AccountLink() override;

    std::string Name() const override;
    uint32_t IntervalSeconds() const override;
    uint32_t SendNo() const override;
    void AddInuse(int32_t nDelta) override;
    RelayTransport* Worker() override;
    RelayTransport* RestartWorker() override;
    std::shared_ptr<RelayPeer> Attach(PacketConnection& conn, const std::string& cAddress) override;
    void Detach(PacketConnection& conn) override;
    void PollNow(PacketConnection& conn) override;
    void CloseWorker() override;

    const AccountPtr& Account() const { return account_; }
    // Closes the worker for good (program end).
    void Close();

  private:
    uint32_t FetchBudget() const;

    ClientRelay& relay_;
    AccountPtr account_;
    mutable std::mutex lock_;
    RelayWorker* worker_ = nullptr; // the running one; null while none runs
    // Every worker started, the closed ones too: a thread may still hold a
    // pointer to one until it notices.
    std::vector<std::unique_ptr<RelayWorker>> workers_;
};

class ClientRelay {
  public:
    // cComputerName: this computer's name as the system gives it.
    ClientRelay(ClientContext& ctx, const std::string& cSettingsFile, std::string cComputerName);
    ~ClientRelay();
    ClientRelay(const ClientRelay&) = delete;
    ClientRelay& operator=(const ClientRelay&) = delete;

    // The link of the account whose URI is `uri` (without regard to case);
    // an empty `uri` names the first account. Null when there is none.
    AccountLink* Link(std::string_view uri);
    // Closes every worker (after the threads stopped).
    void Close();

    ClientContext& Context() { return ctx_; }
    // The accounts of BrindleView.ini, as the settings dialog edits them.
    AccountStore& Store() { return store_; }
    const std::string& ComputerName() const { return cComputerName_; }
    bool Closing() const { return fClosing_.load(); }

  private:
    ClientContext& ctx_;
    std::string cComputerName_;
    AccountStore store_;
    std::atomic<bool> fClosing_{false};
    std::mutex lock_;
    std::vector<std::unique_ptr<AccountLink>> links_;
};

// The account through which a storage-linked server is connected: the one
// of `uri` when given, else the one its per-server file names ("Webdav"),
// else the first. Null (after the log line that cancels the connection)
// when there is none or its Setup is 0.
AccountLink* StorageLinkFor(ClientRelay& relay, const ServerParams& psp, std::string_view uri);

} // namespace brindle
