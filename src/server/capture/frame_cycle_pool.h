// Worker threads that run the frame cycles of different cameras side by
// side, so that the thread of the 50 ms timer never waits for an encode.
//
// One thread (the owner: the runtime's thread) decides which cameras are
// due and submits them; only it submits, cancels and asks whether a camera
// is busy. A camera has at most one cycle in the pool, queued or running,
// so its cycles run in the order they were submitted and never overlap.
// The pool's lock orders memory: what the owner wrote before Submit is seen
// by the worker, and what the worker wrote is seen by the owner once Busy
// has reported the camera idle or Cancel has returned. Workers run as
// batch threads (SCHED_BATCH), so that one waking does not preempt the
// owner.
#pragma once

#include "server/capture/frame_cycle.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace brindle {

class FrameCyclePool {
  public:
    // Runs the cycle of camera nCamera on a worker. Must not throw.
    using Runner = std::function<void(int nCamera)>;

    // Starts nWorkers threads (at least one) for cameras 0 to nCameras - 1.
    FrameCyclePool(int nWorkers, int nCameras, Runner run);
    ~FrameCyclePool();
    FrameCyclePool(const FrameCyclePool&) = delete;
    FrameCyclePool& operator=(const FrameCyclePool&) = delete;

    // One worker per processor core, at least one.
    static int DefaultWorkers();

    int WorkerCount() const { return static_cast<int>(workers_.size()); }

    // Queues a cycle of nCamera. False, and nothing queued, when the camera
    // still has a cycle in the pool, the index is outside the cameras or the
    // pool has shut down.
    bool Submit(int nCamera);

    // Whether nCamera has a cycle queued or running.
    bool Busy(int nCamera);

    // Makes nCamera idle: a cycle that is queued but has not begun is taken
    // back (true); a running one is waited for, and only that one (false).
    bool Cancel(int nCamera);

    // Drops the queued cycles, waits for the running ones and joins the
    // workers. Later submits fail. Idempotent.
    void Shutdown();

  private:
    enum class State : uint8_t { kIdle, kQueued, kRunning };

    void Work();

    Runner run_;
    std::mutex lock_;
    std::condition_variable wake_; // work queued, or shutting down
    std::condition_variable done_; // a cycle ended
    std::deque<int> queue_;
    std::vector<State> states_;
    bool fStopping_ = false;
    std::vector<std::thread> workers_;
};

// What one cycle run on a worker reports, held until the owner's thread
// hands it on: the indicators and the live and preview pictures reach the
// program on the thread that decides the cycles, as they did when the
// cycles ran there. The pictures are copied into buffers kept from cycle
// to cycle. The owner reads a holder only while its camera is idle.
class HeldCycleEvents final : public FrameCycleEvents {
  public:
    // Before the cycle is submitted: forgets the last reports; fLive is the
    // answer WantsLiveFrame gives during the cycle.
    void Begin(bool fLive);
    // The owner's thread, with the camera idle: passes on what the cycle
    // reported, in the order the cycle reported it, and forgets it.
    void Deliver(int nCamera, FrameCycleEvents& events);

    void ChangeDetected(int) override { fDetected_ = true; }
    void ImageSaved(int) override { fSaved_ = true; }
    bool WantsLiveFrame(int) override { return fLive_; }
    void LiveFrame(int nCamera, const CaptureFrame& raw, const CompositionSurface& composed,
                   uint64_t ftCapture) override;
    void PreviewFrame(int nCamera, const CompositionSurface& composed,
                      const StampPlacement& placement) override;

  private:
    bool fLive_ = false;
    bool fDetected_ = false;
    bool fSaved_ = false;
    bool fLiveFrame_ = false;
    bool fPreviewFrame_ = false;
    uint64_t ftCapture_ = 0;
    StampPlacement placement_;
    CaptureFrame raw_;
    CompositionSurface live_;
    CompositionSurface preview_;
};

} // namespace brindle
