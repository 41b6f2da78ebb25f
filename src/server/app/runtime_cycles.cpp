// The frame cycles of the tick: on the tick's own thread, or handed to the
// workers of the cycle pool.
#include "server/app/server_runtime.h"

#include <algorithm>
#include <chrono>

namespace brindle {

size_t TickDurations::StepOf(uint64_t nMicroseconds) {
    const uint64_t nFineEnd = FINE_STEPS * FINE_STEP_US;
    if (nMicroseconds < nFineEnd)
        return static_cast<size_t>(nMicroseconds / FINE_STEP_US);
    return static_cast<size_t>(std::min<uint64_t>(
        FINE_STEPS + (nMicroseconds - nFineEnd) / COARSE_STEP_US, FINE_STEPS + 2000 - 1));
}

uint64_t TickDurations::StepEnd(size_t nStep) {
    if (nStep < FINE_STEPS)
        return (nStep + 1) * FINE_STEP_US;
    return FINE_STEPS * FINE_STEP_US + (nStep - FINE_STEPS + 1) * COARSE_STEP_US;
}

void TickDurations::Add(uint64_t nMicroseconds) {
    steps_[StepOf(nMicroseconds)] += 1;
    ++nCount_;
    nLongest_ = std::max(nLongest_, nMicroseconds);
}

uint64_t TickDurations::Quantile(double p) const {
    const double fWanted = std::clamp(p, 0.0, 1.0) * static_cast<double>(nCount_);
    uint64_t nSeen = 0;
    for (size_t i = 0; i < steps_.size(); ++i) {
        nSeen += steps_[i];
        if (nSeen > 0 && static_cast<double>(nSeen) >= fWanted)
            return i + 1 < steps_.size() ? std::min(StepEnd(i), nLongest_) : nLongest_;
    }
    return nLongest_;
}

void ServerRuntime::MakeCyclePool() {
    if (settings_.nCycleWorkers == 0 || cameras_.empty())
        return;
    for (size_t i = 0; i < cameras_.size(); ++i)
        orders_.push_back(std::make_unique<CycleOrder>(clock_, *shared_));
    const int nWorkers =
        settings_.nCycleWorkers < 0 ? FrameCyclePool::DefaultWorkers() : settings_.nCycleWorkers;
    pool_ = std::make_unique<FrameCyclePool>(nWorkers, static_cast<int>(cameras_.size()),
                                             [this](int nCamera) { RunHandedCycle(nCamera); });
}

void ServerRuntime::RunFrameCycles() {
    if (pool_) {
        DispatchFrameCycles(clock_.Tick());
        return;
    }
    FrameCycleContext context{clock_, *shared_, settings_.cFolder, powerState_, bridge_};
    for (size_t i = 0; i < cameras_.size(); ++i)
        RunFrameCycle(cameras_[i], static_cast<int>(i), context);
    NotifyQueued();
}

// A camera whose last cycle still runs is left until a tick finds it idle:
// its cycles never overlap and never pile up. An idle camera's last cycle
// has ended, so what it reported is handed on before the next one begins.
void ServerRuntime::DispatchFrameCycles(uint32_t nNow) {
    for (size_t i = 0; i < cameras_.size(); ++i) {
        const int nCamera = static_cast<int>(i);
        if (pool_->Busy(nCamera))
            continue;
        CycleOrder& order = *orders_[i];
        order.events.Deliver(nCamera, bridge_);
        CameraEntry& camera = cameras_[i];
        const uint32_t nLastTick = camera.cycle.nLastCycleTick;
        if (!BeginFrameCycle(camera, nNow))
            continue;
        order.nNow = nNow;
        order.nLastTick = nLastTick;
        order.power = powerState_;
        order.context.imageFolder.assign(settings_.cFolder);
        order.events.Begin(bridge_.WantsLiveFrame(nCamera));
        pool_->Submit(nCamera);
    }
}

// A worker: the cycle, then the connections are woken for what it queued.
void ServerRuntime::RunHandedCycle(int nCamera) {
    CycleOrder& order = *orders_[static_cast<size_t>(nCamera)];
    try {
        RunBegunFrameCycle(cameras_[static_cast<size_t>(nCamera)], nCamera, order.context,
                           order.nNow);
        NotifyQueued();
    } catch (...) {
        // A failure in the image pipeline ends this cycle quietly; the next
        // one tries again.
    }
}

void ServerRuntime::NotifyQueued() {
    bool fQueued = false;
    {
        std::lock_guard<std::mutex> lock(shared_->mainLock);
        fQueued = !shared_->queue.Empty();
    }
    if (fQueued)
        connections_->NotifyWork();
}

// Before the runtime changes a camera: a cycle that has not begun is taken
// back (the camera is then due again at once), a running one is waited for.
void ServerRuntime::HoldCycle(int nCamera) {
    if (pool_ && pool_->Cancel(nCamera))
        cameras_[static_cast<size_t>(nCamera)].cycle.nLastCycleTick =
            orders_[static_cast<size_t>(nCamera)]->nLastTick;
}

bool ServerRuntime::CyclesIdle() {
    for (size_t i = 0; pool_ && i < cameras_.size(); ++i) {
        if (pool_->Busy(static_cast<int>(i)))
            return false;
    }
    return true;
}

} // namespace brindle
