// The server's background storage check: a thread that polls the first
// account every WaitInterval seconds (timed polls), and the watchdog that
// replaces it when one fetch phase runs longer than 60 s.
//
// Nothing is killed: the watchdog abandons the poll's requests through the
// worker's wake descriptor, every lock of the poll is scoped, so the poll
// returns at once; the old thread is joined and a new one started.
#pragma once

#include "platform/clock.h"
#include "storage/relay_worker.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace brindle {

inline constexpr uint32_t RELAY_WATCHDOG_MS = 60000;

class RelayBackground {
  public:
    RelayBackground(RelayWorker& worker, const Clock& clock = SystemClock());
    ~RelayBackground();
    RelayBackground(const RelayBackground&) = delete;
    RelayBackground& operator=(const RelayBackground&) = delete;

    // Starts the check thread (logged).
    void Start();
    // Ends the check thread; a running poll is abandoned.
    void Stop();

    // Timer 1, every WaitInterval seconds: starts a poll when none runs,
    // else watches the running one.
    void OnTimer();
    // Power notifications: the time the computer slept is not held against
    // a poll.
    void OnSuspend() { nSuspend_ = NonZeroTickOf(clock_.Tick()); }
    void OnResume() { nResume_ = NonZeroTickOf(clock_.Tick()); }

    bool Busy() const { return fBusy_.load(); }
    int Restarts() const { return nRestarts_.load(); }

  private:
    void ThreadMain();
    void Watch();
    bool Launch();

    RelayWorker& worker_;
    const Clock& clock_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool fResume_ = false;
    bool fStop_ = false;
    std::thread thread_;
    std::atomic<bool> fBusy_{false};
    std::atomic<uint32_t> nSuspend_{0};
    std::atomic<uint32_t> nResume_{0};
    std::atomic<int> nRestarts_{0};
};

} // namespace brindle

namespace brindle {

// Server: the hold around every upload and poll, so that they never overlap
// on the storage, across threads (an in-process mutex) and across server
// processes (the lock file WebDavLockPath). Released when the result goes.
std::unique_ptr<void, void (*)(void*)> HoldServerStorage();

} // namespace brindle
