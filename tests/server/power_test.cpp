// The power layer with stand-in commands for systemd-inhibit and gdbus.
#include "platform/power.h"
#include "server/server_fixture.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

#include <atomic>
#include <gtest/gtest.h>

#include <chrono>

#include <signal.h>

namespace brindle::test {
namespace {

TEST(ParseSleepSignal, ReadsPrepareForSleepLinesOnly) {
    struct Case {
        const char* line;
        int nExpected;
    } cases[] = {
        {"/org/freedesktop/login1: org.freedesktop.login1.Manager.PrepareForSleep (true,)", 1},
        {"/org/freedesktop/login1: org.freedesktop.login1.Manager.PrepareForSleep (false,)", 0},
        {"/org/freedesktop/login1: org.freedesktop.login1.Manager.PrepareForShutdown (true,)", -1},
        {"/org/freedesktop/login1: org.freedesktop.login1.Manager.PrepareForSleep (", -1},
        {"", -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseSleepSignal(c.line), c.nExpected) << c.line;
}

TEST(InhibitorPower, HoldsTheLockOnlyWhileTheSystemIsRequired) {
    TempDir dir;
    WriteFileText(dir.File("inhibit.sh"), "echo held >> \"$1\"\ncat\necho released >> \"$1\"\n");
    InhibitorPower power({"/bin/sh", dir.File("inhibit.sh"), dir.File("marks")});
    power.SetExecutionState(POWER_CONTINUOUS);
    EXPECT_FALSE(power.Holding());
    power.SetExecutionState(POWER_CONTINUOUS | POWER_SYSTEM_REQUIRED);
    EXPECT_TRUE(power.Holding());
    power.SetExecutionState(POWER_CONTINUOUS | POWER_SYSTEM_REQUIRED); // renewal keeps it
    power.SetExecutionState(POWER_CONTINUOUS);
    EXPECT_FALSE(power.Holding());
    EXPECT_EQ(ReadFileText(dir.File("marks")), "held\nreleased\n");
}

TEST(InhibitorPower, ACommandThatCannotHoldMakesRequestsDoNothing) {
    InhibitorPower missing({"/nonexistent/systemd-inhibit"});
    missing.SetExecutionState(POWER_SYSTEM_REQUIRED);
    EXPECT_FALSE(missing.Holding());
    EXPECT_FALSE(missing.Available());

    InhibitorPower refused({"/bin/false"});
    refused.SetExecutionState(POWER_SYSTEM_REQUIRED);
    ASSERT_TRUE(WaitUntil([&] {
        refused.SetExecutionState(POWER_SYSTEM_REQUIRED);
        return !refused.Available();
    }));
    EXPECT_FALSE(refused.Holding());
}

class CountingEvents : public PowerEvents {
  public:
    void PowerSuspending() override { ++nSuspend; }
    void PowerResumed() override { ++nResume; }
    std::atomic<int> nSuspend{0};
    std::atomic<int> nResume{0};
};

TEST(SleepWatcher, ReportsSuspendAndResumeUntilStopped) {
    TempDir dir;
    WriteFileText(dir.File("monitor.sh"),
                  "echo '/org/freedesktop/login1: "
                  "org.freedesktop.login1.Manager.PrepareForSleep (true,)'\n"
                  "echo '/org/freedesktop/login1: org.freedesktop.login1.Manager.SessionNew "
                  "(\"3\", objectpath \"/org/freedesktop/login1/session/_33\")'\n"
                  "echo '/org/freedesktop/login1: "
                  "org.freedesktop.login1.Manager.PrepareForSleep (false,)'\n"
                  "exec sleep 30\n");
    CountingEvents events;
    SleepWatcher watcher({"/bin/sh", dir.File("monitor.sh")});
    ASSERT_TRUE(watcher.Start(&events));
    EXPECT_TRUE(WaitUntil([&] { return events.nResume == 1; }));
    EXPECT_EQ(events.nSuspend, 1);
    watcher.Stop(); // ends the command that would run for half a minute
    EXPECT_FALSE(SleepWatcher({"/nonexistent/gdbus"}).Start(&events));
}

// The programs block SIGTERM in their threads to take it through a signal
// thread; a helper that inherited the mask would never end on Stop().
TEST(SleepWatcher, StopsAHelperStartedWhileSigtermIsBlocked) {
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGTERM);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &block, &old), 0);
    CountingEvents events;
    SleepWatcher watcher({"sleep", "60"});
    const bool fStarted = watcher.Start(&events);
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    ASSERT_TRUE(fStarted);
    const auto start = std::chrono::steady_clock::now();
    watcher.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

} // namespace
} // namespace brindle::test
