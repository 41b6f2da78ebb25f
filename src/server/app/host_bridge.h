// The capture layer and the send queue report through interfaces of their
// own; the runtime hands them this bridge, which passes every call on to the
// one ServerHost.
#pragma once

#include "server/app/server_host.h"
#include "server/capture/camera_control.h"
#include "server/capture/frame_cycle.h"
#include "server/capture/send_queue.h"

namespace brindle {

class HostBridge final : public FrameCycleEvents, public CaptureReporter, public DropObserver {
  public:
    explicit HostBridge(ServerHost& host) : host_(host) {}

    // CaptureReporter.
    void StartFailed(const CameraSettings& camera, uint32_t nCode,
                     const std::string& hint) override {
        host_.CameraStartFailed(camera, nCode, hint);
    }
    void StopFailed(const CameraSettings& camera) override { host_.CameraStopFailed(camera); }

    // FrameCycleEvents.
    void ChangeDetected(int nCamera) override { host_.ChangeDetected(nCamera); }
    void ImageSaved(int nCamera) override { host_.ImageSaved(nCamera); }
    bool WantsLiveFrame(int nCamera) override { return host_.WantsLiveFrame(nCamera); }
    void LiveFrame(int nCamera, const CaptureFrame& raw, const CompositionSurface& composed,
                   uint64_t ftCapture) override {
        host_.LiveFrame(nCamera, raw, composed, ftCapture);
    }
    void PreviewFrame(int nCamera, const CompositionSurface& composed,
                      const StampPlacement& placement) override {
        host_.PreviewFrame(nCamera, composed, placement);
    }

    // DropObserver.
    void ImageDropped(int32_t nCamera, uint32_t nDroppedCount) override {
        host_.ImageDropped(nCamera, nDroppedCount);
    }

  private:
    ServerHost& host_;
};

} // namespace brindle
