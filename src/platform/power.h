// The power layer: keeping the computer awake while a client is served, and
// hearing about suspend and resume.
//
// Requests use the flags of the Windows execution state, so callers keep
// their meaning: the continuous flag alone clears any requirement, the
// system-required (and away-mode-required) flag keeps the system from
// sleeping. Where the system bus and systemd-logind are there, a sleep
// inhibitor lock is held while required; elsewhere requests do nothing.
#pragma once

#include "common/error_codes.h"
#include "common/unique_fd.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace brindle {

inline constexpr uint32_t POWER_SYSTEM_REQUIRED = 0x00000001;
inline constexpr uint32_t POWER_AWAYMODE_REQUIRED = 0x00000040;
inline constexpr uint32_t POWER_CONTINUOUS = 0x80000000;

// Suspend and resume as the system reports them; called on a thread of the
// power layer.
class PowerEvents {
  public:
    virtual ~PowerEvents() = default;
    virtual void PowerSuspending() = 0;
    virtual void PowerResumed() = 0;
};

// A timer that wakes a suspended computer: a kernel alarm timer
// (CLOCK_BOOTTIME_ALARM), which only a process with the CAP_WAKE_ALARM
// capability may set.
class WakeAlarm {
  public:
    // Rings every nMinutes minutes, the first time nMinutes from now, and
    // replaces an earlier setting. Returns 0, or the code of the refusal
    // (the alarm is then off).
    uint32_t Set(uint32_t nMinutes);
    void Cancel() { fd_.Reset(); }
    bool Armed() const { return fd_.Valid(); }

  private:
    UniqueFd fd_;
};

class Power {
  public:
    virtual ~Power() = default;
    // Sets the execution state; takes effect until the next call.
    virtual void SetExecutionState(uint32_t nFlags) = 0;
    // Starts reporting suspend and resume to `events` (null stops it).
    virtual void Watch(PowerEvents* /*events*/) {}
    // Has a suspended computer woken every nMinutes minutes (1 or more),
    // so that background work can run. Returns 0, or the code why it cannot.
    virtual uint32_t SetWakeTimer(uint32_t nMinutes) { return alarm_.Set(nMinutes); }
    virtual void CancelWakeTimer() { alarm_.Cancel(); }

  private:
    WakeAlarm alarm_;
};

// Asks nothing of the system: tests.
class NullPower : public Power {
  public:
    void SetExecutionState(uint32_t) override {}
    uint32_t SetWakeTimer(uint32_t) override { return ERROR_NOT_SUPPORTED_CODE; }
};

// Machines without a session manager: nothing keeps them awake, but the
// kernel's alarm timer still wakes them.
class AlarmPower : public Power {
  public:
    void SetExecutionState(uint32_t) override {}
};

// 1 for a line of "gdbus monitor" that reports logind's PrepareForSleep
// with true (going to sleep), 0 for false (woken up), -1 for any other line.
int ParseSleepSignal(std::string_view line);

// Runs a monitor of logind's signals (by default "gdbus monitor" on the
// system bus) and reports PrepareForSleep to `events` from a thread of its
// own. Without the command nothing is reported.
class SleepWatcher {
  public:
    explicit SleepWatcher(std::vector<std::string> command = DefaultCommand());
    ~SleepWatcher();
    SleepWatcher(const SleepWatcher&) = delete;
    SleepWatcher& operator=(const SleepWatcher&) = delete;

    // Starts reporting; false when the command cannot run. A running
    // watcher is stopped first.
    bool Start(PowerEvents* events);
    // Ends the command and joins the thread.
    void Stop();

    static std::vector<std::string> DefaultCommand();

  private:
    void ReadLoop(int fd, PowerEvents* events);

    std::vector<std::string> command_;
    pid_t child_ = -1;
    std::thread reader_;
};

// Holds a sleep inhibitor by running `command` (by default systemd-inhibit
// around "cat") with a pipe as its standard input: closing the pipe ends
// the command and with it the lock, also when this process dies. A command
// that cannot start or ends by itself marks the layer unavailable; later
// requests then do nothing.
class InhibitorPower : public Power {
  public:
    explicit InhibitorPower(std::vector<std::string> command = DefaultCommand());
    ~InhibitorPower() override;
    InhibitorPower(const InhibitorPower&) = delete;
    InhibitorPower& operator=(const InhibitorPower&) = delete;

    void SetExecutionState(uint32_t nFlags) override;
    void Watch(PowerEvents* events) override;

    bool Holding() const { return child_ > 0; }
    bool Available() const { return fAvailable_; }

    static std::vector<std::string> DefaultCommand();

  private:
    bool Acquire();
    void Release();
    bool ChildEnded();

    std::vector<std::string> command_;
    pid_t child_ = -1;
    UniqueFd pipe_; // write end; the child reads the other
    bool fAvailable_ = true;
    SleepWatcher watcher_;
};

// The power layer of this machine: an inhibitor when systemd-inhibit and
// the system bus are there, else one that only sets wake alarms.
std::unique_ptr<Power> CreateSystemPower();

} // namespace brindle
