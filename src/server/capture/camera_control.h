// Starting and stopping a camera's capture.
#pragma once

#include "server/capture/camera_entry.h"

#include <string>
#include <utility>
#include <vector>

namespace brindle {

// How start and stop failures reach the user: a message box in the window,
// the log when running headless.
class CaptureReporter {
  public:
    virtual ~CaptureReporter() = default;
    virtual void StartFailed(const CameraSettings& camera, uint32_t nCode,
                             const std::string& hint) = 0;
    virtual void StopFailed(const CameraSettings& camera) = 0;
};

// "<name>の開始でエラーが発生しました(<code>)", with the hint on a line of
// its own when there is one.
std::string StartFailureText(const std::string& name, uint32_t nCode, const std::string& hint);
// "<name>の停止でエラーが発生しました".
std::string StopFailureText(const std::string& name);

// Writes the failure texts to the log.
class LogCaptureReporter : public CaptureReporter {
  public:
    void StartFailed(const CameraSettings& camera, uint32_t nCode,
                     const std::string& hint) override;
    void StopFailed(const CameraSettings& camera) override;
};

// Starts the capture in the selected format (any size the device offers
// when the selection is missing) and makes the composition surface.
// Returns 1 on success or when running already, 0 after reporting the
// failure. A camera that is not present this run cannot start.
int StartCamera(CameraEntry& camera, CaptureBackend& backend, CaptureReporter& reporter);

// Stops the capture and releases the stream and the surface, whatever
// happens. Returns 1, or 0 after reporting a failed stop.
int StopCamera(CameraEntry& camera, CaptureReporter& reporter);

// Starts every camera whose "Use" is on (at start-up).
void StartCamerasInUse(std::vector<CameraEntry>& cameras, CaptureBackend& backend,
                       CaptureReporter& reporter);

// One camera's own controls, as its property dialog works them. Calls come
// from the GUI thread and from connection threads, one at a time (the
// dialog's lock), so implementations need no lock of their own beyond what
// the backend needs.
class CameraControls {
  public:
    virtual ~CameraControls() = default;
    // The camera's name, the dialog's title.
    virtual std::string Name() const = 0;
    // The controls with their current values and flags; 0 or a code.
    virtual uint32_t List(std::vector<CaptureControl>& controls) = 0;
    // Asks the device for a value; 0 or the device's refusal. The value the
    // device took may differ: List tells.
    virtual uint32_t Set(uint32_t nId, int32_t nValue) = 0;
};

// The controls of a device path reached through a backend (not owned; it
// must outlive this object).
class BackendCameraControls : public CameraControls {
  public:
    BackendCameraControls(CaptureBackend& backend, std::string devicePath, std::string name)
        : backend_(backend), devicePath_(std::move(devicePath)), name_(std::move(name)) {}
    std::string Name() const override { return name_; }
    uint32_t List(std::vector<CaptureControl>& controls) override {
        return backend_.ListControls(devicePath_, controls);
    }
    uint32_t Set(uint32_t nId, int32_t nValue) override {
        return backend_.SetControl(devicePath_, nId, nValue);
    }

  private:
    CaptureBackend& backend_;
    std::string devicePath_;
    std::string name_;
};

} // namespace brindle
