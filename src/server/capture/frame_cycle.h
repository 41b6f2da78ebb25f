// The frame cycle: for a camera whose cycle is due, take the newest frame,
// decide whether the scene changed, stamp date and time, encode JPEG, save
// it, queue it for the logged-in client and hand it to an open viewer.
//
// The main window's 50 ms timer decides which cameras are due; their cycles
// run on that thread one after another, or on the workers of a
// FrameCyclePool side by side. A camera's cycle is never re-entered, and
// nothing else touches the camera's capture and cycle state while it runs.
// Failures in the pipeline are silent; the next cycle tries again.
#pragma once

#include "platform/clock.h"
#include "server/capture/camera_entry.h"
#include "server/capture/send_queue.h"

#include <string>

namespace brindle {

// What the frame cycle tells the window. The window shows the indicators
// only for the selected camera and hides them 500 ms later.
class FrameCycleEvents {
  public:
    virtual ~FrameCycleEvents() = default;
    // "検出": a change was detected this cycle.
    virtual void ChangeDetected(int nCamera) = 0;
    // "保存": an image was saved.
    virtual void ImageSaved(int nCamera) = 0;
    // Whether the camera's image viewer is open and shows live images.
    virtual bool WantsLiveFrame(int nCamera) = 0;
    // The viewer's picture: the raw frame (bottom-up, see CaptureFrame) and
    // the composed picture with its stamp (top-down); both are valid during
    // the call only. ftCapture is the capture time as a FILETIME of local
    // time. Called even when encoding failed.
    virtual void LiveFrame(int nCamera, const CaptureFrame& raw, const CompositionSurface& composed,
                           uint64_t ftCapture) = 0;
    // The composed picture for a preview window, with the stamp's place.
    virtual void PreviewFrame(int nCamera, const CompositionSurface& composed,
                              const StampPlacement& placement) = 0;
};

// Events that nobody watches (headless, tests).
class NoFrameCycleEvents : public FrameCycleEvents {
  public:
    void ChangeDetected(int) override {}
    void ImageSaved(int) override {}
    bool WantsLiveFrame(int) override { return false; }
    void LiveFrame(int, const CaptureFrame&, const CompositionSurface&, uint64_t) override {}
    void PreviewFrame(int, const CompositionSurface&, const StampPlacement&) override {}
};

// Suspend and resume as the window learns them. While the computer is
// suspending and for 30 s after it resumed, frames are not used: cameras
// deliver stale or dark frames then.
struct PowerState {
    bool fSuspending = false;
    uint32_t nResumeTick = 0; // non-zero from the resume until the 30 s are over
};

inline constexpr uint32_t RESUME_QUIET_MS = 30000;

bool InPowerQuietTime(const PowerState& power, uint32_t nNow);

// Everything the frame cycle uses besides the camera itself.
struct FrameCycleContext {
    const Clock& clock;
    ServerShared& shared;
    std::string imageFolder; // "Folder": where the camera folders are
    const PowerState& power;
    FrameCycleEvents& events;
};

// Whether the camera's cycle is due at nNow: the 25 ms allowance keeps a
// cycle of N seconds from stretching to N s + 50 ms on the 50 ms timer.
bool IsCycleDue(const CameraEntry& camera, uint32_t nNow);

// One frame cycle of camera nCamera (its index in the camera list), when it
// is due at the context's clock.
void RunFrameCycle(CameraEntry& camera, int nCamera, FrameCycleContext& context);

// The same in two halves, for a cycle that runs on another thread than the
// one that decides it is due. BeginFrameCycle (the deciding thread) returns
// whether the camera is due at nNow and, when it is, starts its cycle clock
// at nNow. RunBegunFrameCycle (any thread) then does the rest with the same
// nNow.
bool BeginFrameCycle(CameraEntry& camera, uint32_t nNow);
void RunBegunFrameCycle(CameraEntry& camera, int nCamera, FrameCycleContext& context,
                        uint32_t nNow);

// For a preview window of a running camera, also one that is not in use
// (whose frame cycle does nothing): composes the newest frame with a stamp
// of the current time on the camera's surface. Returns 0, or the code of a
// failed fetch (ERROR_INVALID_PARAMETER_CODE when the camera is not
// running or the frame is malformed).
uint32_t ComposePreview(CameraEntry& camera, const Clock& clock, std::mutex& mainLock,
                        StampPlacement& placement);

// Copies the friendly names into the shared state for the queue's log
// lines and sizes the per-camera counts. Takes the main lock.
void PublishCameras(const std::vector<CameraEntry>& cameras, ServerShared& shared);

} // namespace brindle
