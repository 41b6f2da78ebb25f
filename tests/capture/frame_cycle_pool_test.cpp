// The pool that runs frame cycles on workers: cameras side by side, each
// camera's cycles one at a time and in order, taking back and waiting for
// one camera's cycle, and a shutdown that leaves no thread.
#include "server/capture/frame_cycle_pool.h"

#include "support/cycle_gate.h"
#include "support/thread_count.h"
#include "support/wait_until.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace brindle {
namespace {

using test::WaitUntil;

using test::ThreadCount;
using Gate = test::CycleGate;

// What the cycles did: the most cycles of one camera that ran at once, and
// what each camera's cycles saw, in the order they ran.
struct Record {
    std::mutex lock;
    std::vector<int> running = std::vector<int>(4);
    int nMostPerCamera = 0;
    std::vector<std::vector<int>> order = std::vector<std::vector<int>>(4);

    void Enter(int nCamera, int nOrder = 0) {
        std::lock_guard<std::mutex> guard(lock);
        nMostPerCamera = std::max(nMostPerCamera, ++running[size_t(nCamera)]);
        order[size_t(nCamera)].push_back(nOrder);
    }
    void Leave(int nCamera) {
        std::lock_guard<std::mutex> guard(lock);
        --running[size_t(nCamera)];
    }
    size_t Done(int nCamera) {
        std::lock_guard<std::mutex> guard(lock);
        return order[size_t(nCamera)].size();
    }
};

// One camera held in its cycle does not hold the others: their cycles run
// and end meanwhile, on the second worker.
TEST(FrameCyclePool, OneCameraHeldDoesNotHoldTheOthers) {
    Gate gate;
    Record record;
    FrameCyclePool pool(2, 3, [&](int n) {
        record.Enter(n);
        gate.Pass(n);
        record.Leave(n);
    });
    EXPECT_EQ(pool.WorkerCount(), 2);
    gate.Close(0);
    ASSERT_TRUE(pool.Submit(0));
    ASSERT_TRUE(WaitUntil([&] { return gate.Held() == 1; }));
    for (int n = 1; n <= 2; ++n) {
        ASSERT_TRUE(pool.Submit(n));
        EXPECT_TRUE(WaitUntil([&] { return !pool.Busy(n); }));
        EXPECT_EQ(record.Done(n), 1u);
    }
    EXPECT_TRUE(pool.Busy(0));
    EXPECT_FALSE(pool.Submit(0)); // its cycle has not ended
    gate.Open();
    EXPECT_TRUE(WaitUntil([&] { return !pool.Busy(0); }));
    EXPECT_FALSE(pool.Submit(7));
}

// Submitting as fast as the pool takes cycles: no camera ever has two
// cycles at once, and each cycle sees, in order, what the submitter wrote
// for it (plain memory, as the runtime's orders are).
TEST(FrameCyclePool, ACamerasCyclesNeverOverlap) {
    Record record;
    int nOrder[2] = {-1, -1};
    FrameCyclePool pool(4, 2, [&](int n) {
        record.Enter(n, nOrder[n]);
        std::this_thread::yield();
        record.Leave(n);
    });
    constexpr int kCycles = 100;
    int nSubmitted[2] = {0, 0};
    while (nSubmitted[0] < kCycles || nSubmitted[1] < kCycles) {
        for (int n = 0; n < 2; ++n) {
            if (nSubmitted[n] == kCycles || pool.Busy(n))
                continue;
            nOrder[n] = nSubmitted[n];
            nSubmitted[n] += pool.Submit(n) ? 1 : 0;
        }
        std::this_thread::yield();
    }
    ASSERT_TRUE(WaitUntil([&] { return !pool.Busy(0) && !pool.Busy(1); }));
    EXPECT_EQ(record.nMostPerCamera, 1);
    for (int n = 0; n < 2; ++n) {
        EXPECT_EQ(record.Done(n), size_t(kCycles));
        for (size_t i = 0; i < record.order[size_t(n)].size(); ++i)
            ASSERT_EQ(record.order[size_t(n)][i], int(i));
    }
}

// Cancel takes back a cycle that waits for a worker at once, without
// waiting for the other camera's running cycle, and waits for a running
// cycle of its own camera.
TEST(FrameCyclePool, CancelTakesBackAWaitingCycleAndWaitsForARunningOne) {
    Gate gate;
    Record record;
    FrameCyclePool pool(1, 2, [&](int n) {
        record.Enter(n);
        gate.Pass(n);
        record.Leave(n);
    });
    gate.Close(0);
    ASSERT_TRUE(pool.Submit(0));
    ASSERT_TRUE(WaitUntil([&] { return gate.Held() == 1; }));
    ASSERT_TRUE(pool.Submit(1)); // waits behind camera 0 on the one worker
    EXPECT_TRUE(pool.Cancel(1));
    EXPECT_FALSE(pool.Busy(1));

    std::atomic<bool> fCancelled{false};
    std::thread cancel([&] {
        EXPECT_FALSE(pool.Cancel(0));
        fCancelled = true;
    });
    // The cycle is still held; a Cancel that returned now would not have
    // waited for it.
    EXPECT_FALSE(fCancelled);
    gate.Open();
    cancel.join();
    EXPECT_FALSE(pool.Busy(0));
    EXPECT_EQ(record.Done(0), 1u);
    EXPECT_EQ(record.Done(1), 0u);
}

// Shutdown while cycles run and wait: the running ones end, the waiting
// ones are dropped, every worker is joined.
// Cycles run as batch work, so that a worker that wakes does not preempt
// the thread that submitted it.
TEST(FrameCyclePool, CyclesRunAsBatchThreads) {
    int nAllowed = -1;
    std::thread probe([&] {
        sched_param param{};
        nAllowed = ::pthread_setschedparam(::pthread_self(), SCHED_BATCH, &param);
    });
    probe.join();
    if (nAllowed != 0)
        GTEST_SKIP() << "this system refuses SCHED_BATCH to threads";
    std::atomic<int> nPolicy{-1};
    FrameCyclePool pool(1, 1, [&](int) { nPolicy = ::sched_getscheduler(0); });
    ASSERT_TRUE(pool.Submit(0));
    ASSERT_TRUE(WaitUntil([&] { return nPolicy.load() != -1; }));
    EXPECT_EQ(nPolicy.load(), SCHED_BATCH);
}

TEST(FrameCyclePool, ShutdownDuringCyclesLeavesNoThread) {
    const size_t nThreads = ThreadCount();
    Gate gate;
    Record record;
    {
        FrameCyclePool pool(2, 4, [&](int n) {
            record.Enter(n);
            gate.Pass(n);
            record.Leave(n);
        });
        EXPECT_EQ(ThreadCount(), nThreads + 2);
        gate.Close(0);
        gate.Close(1);
        for (int n = 0; n < 4; ++n)
            ASSERT_TRUE(pool.Submit(n));
        ASSERT_TRUE(WaitUntil([&] { return gate.Held() == 2; }));
        // The held cycles go on once Shutdown has dropped the waiting ones.
        std::thread opener([&] {
            WaitUntil([&] { return !pool.Busy(2) && !pool.Busy(3); });
            gate.Open();
        });
        pool.Shutdown();
        opener.join();
        EXPECT_FALSE(pool.Submit(0));
        pool.Shutdown();
    }
    EXPECT_EQ(ThreadCount(), nThreads);
    EXPECT_EQ(record.Done(0) + record.Done(1), 2u);
    EXPECT_EQ(record.Done(2) + record.Done(3), 0u);
}

} // namespace
} // namespace brindle
