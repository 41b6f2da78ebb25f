#include "server/capture/frame_cycle_pool.h"

#include <algorithm>
#include <utility>

#include <pthread.h>
#include <sched.h>

namespace brindle {

FrameCyclePool::FrameCyclePool(int nWorkers, int nCameras, Runner run)
    : run_(std::move(run)), states_(static_cast<size_t>(std::max(nCameras, 0)), State::kIdle) {
    nWorkers = std::max(nWorkers, 1);
    workers_.reserve(static_cast<size_t>(nWorkers));
    for (int i = 0; i < nWorkers; ++i)
        workers_.emplace_back([this] { Work(); });
}

FrameCyclePool::~FrameCyclePool() {
    Shutdown();
}

int FrameCyclePool::DefaultWorkers() {
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

bool FrameCyclePool::Submit(int nCamera) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (fStopping_ || nCamera < 0 || static_cast<size_t>(nCamera) >= states_.size() ||
            states_[static_cast<size_t>(nCamera)] != State::kIdle)
            return false;
        states_[static_cast<size_t>(nCamera)] = State::kQueued;
        queue_.push_back(nCamera);
    }
    wake_.notify_one();
    return true;
}

bool FrameCyclePool::Busy(int nCamera) {
    std::lock_guard<std::mutex> guard(lock_);
    return nCamera >= 0 && static_cast<size_t>(nCamera) < states_.size() &&
           states_[static_cast<size_t>(nCamera)] != State::kIdle;
}

bool FrameCyclePool::Cancel(int nCamera) {
    std::unique_lock<std::mutex> guard(lock_);
    if (nCamera < 0 || static_cast<size_t>(nCamera) >= states_.size())
        return false;
    State& state = states_[static_cast<size_t>(nCamera)];
    if (state == State::kQueued) {
        queue_.erase(std::find(queue_.begin(), queue_.end(), nCamera));
        state = State::kIdle;
        return true;
    }
    done_.wait(guard, [&] { return state != State::kRunning; });
    return false;
}

void FrameCyclePool::Shutdown() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (fStopping_ && workers_.empty())
            return;
        fStopping_ = true;
        for (int nCamera : queue_)
            states_[static_cast<size_t>(nCamera)] = State::kIdle;
        queue_.clear();
    }
    wake_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
    workers_.clear();
}

void FrameCyclePool::Work() {
    // Encoding is bulk work: as batch threads the workers keep their fair
    // share of the processors, but one that wakes does not preempt the
    // thread that submitted it (the tick's, which is the window's in the
    // windowed program). Any thread may choose this policy; should it be
    // refused, the worker runs as before.
    sched_param param{};
    ::pthread_setschedparam(::pthread_self(), SCHED_BATCH, &param);
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        wake_.wait(guard, [this] { return fStopping_ || !queue_.empty(); });
        if (queue_.empty())
            return; // stopping, and nothing was left to begin
        int nCamera = queue_.front();
        queue_.pop_front();
        states_[static_cast<size_t>(nCamera)] = State::kRunning;
        guard.unlock();
        run_(nCamera);
        guard.lock();
        states_[static_cast<size_t>(nCamera)] = State::kIdle;
        done_.notify_all();
    }
}

void HeldCycleEvents::Begin(bool fLive) {
    fLive_ = fLive;
    fDetected_ = fSaved_ = fLiveFrame_ = fPreviewFrame_ = false;
}

void HeldCycleEvents::LiveFrame(int, const CaptureFrame& raw, const CompositionSurface& composed,
                                uint64_t ftCapture) {
    raw_.nWidth = raw.nWidth;
    raw_.nHeight = raw.nHeight;
    raw_.pixels.assign(raw.pixels.begin(), raw.pixels.end());
    fLiveFrame_ = live_.CopyFrom(composed);
    ftCapture_ = ftCapture;
}

void HeldCycleEvents::PreviewFrame(int, const CompositionSurface& composed,
                                   const StampPlacement& placement) {
    fPreviewFrame_ = preview_.CopyFrom(composed);
    placement_ = placement;
}

void HeldCycleEvents::Deliver(int nCamera, FrameCycleEvents& events) {
    if (std::exchange(fDetected_, false))
        events.ChangeDetected(nCamera);
    if (std::exchange(fPreviewFrame_, false))
        events.PreviewFrame(nCamera, preview_, placement_);
    if (std::exchange(fSaved_, false))
        events.ImageSaved(nCamera);
    if (std::exchange(fLiveFrame_, false))
        events.LiveFrame(nCamera, raw_, live_, ftCapture_);
}

} // namespace brindle
