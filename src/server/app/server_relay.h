// The server's side of the storage relay: the worker on the first account
// when "Webdav" is Yes, its background check, and the relayed client
// connections it starts.
//
// Threads: Start, Tick and Shutdown run on the runtime's thread. Polls on
// other threads only queue the names of peers to start; Tick starts them,
// so that no poll waits for a connection thread to end (whose disconnect
// upload may wait for the storage lock that the poll holds).
#pragma once

#include "platform/clock.h"
#include "platform/power.h"
#include "server/connections/connection_manager.h"
#include "storage/relay_background.h"
#include "storage/relay_worker.h"
#include "storage/storage_account.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace brindle {

class ServerRelay {
  public:
    ServerRelay(ConnectionManager& connections, const Clock& clock, Power& power);
    ~ServerRelay();

    // With fWebdav and at least one account: runs the worker on the first
    // account (marked in use) and has the computer woken every WakeInterval
    // minutes for its background check. Returns 0 (also when relaying is off), or
    // ERR_RELAY_NAME for a computer name that cannot name relay files.
    uint32_t Start(const std::string& settingsFile, const std::string& computerName, bool fWebdav);
    // The runtime's tick: timer 1 every WaitInterval seconds, and the peers
    // that polls found.
    void Tick(uint32_t nNow);
    void Suspending();
    void Resumed();
    // Before the connections stop: the check thread ends (its request
    // abandoned). After: the worker closes and the account is released.
    void StopBackground();
    // Shutdown: the requests now running (an upload that hangs) fail at once.
    void AbandonRequests();
    void Close();

    bool Running() const { return worker_ != nullptr; }
    RelayWorker* Worker() { return worker_.get(); }

  private:
    void StartPeer(const std::string& name);
    void ArmWakeTimer();

    ConnectionManager& connections_;
    const Clock& clock_;
    Power& power_;
    std::unique_ptr<AccountStore> store_;
    AccountPtr account_;
    std::unique_ptr<RelayWorker> worker_;
    std::unique_ptr<RelayBackground> background_;
    uint32_t nTimerTick_ = 0;
    std::mutex peersLock_;
    std::vector<std::string> peersToStart_;
};

} // namespace brindle
