// What the program around the server runtime hears from it: the one
// interface that BrindleHost's main window implements, and the headless
// program with plain logging. It is handed to the runtime once, in
// RuntimeOptions, and must outlive the runtime.
//
// Threads: each method says who calls it. "Runtime thread" is the thread
// that calls ServerRuntime::Start, Tick and Shutdown (the GUI thread of the
// window). Methods called from connection threads must not block for long
// and must not call back into the runtime; a window hands their values over
// to its own thread (a queued signal) and reads what it needs there.
//
// Every method has a default: a host overrides what it shows. The defaults
// write camera start and stop failures to the log and ignore the rest.
#pragma once

#include "server/capture/camera_entry.h"

#include <cstdint>
#include <string>

namespace brindle {

class ServerHost {
  public:
    virtual ~ServerHost() = default;

    // --- Cameras (runtime thread) ---

    // A camera could not be started (nCode: the Windows code; hint: a line
    // that may help the user, or empty) or stopped. The window shows the
    // text of StartFailureText or StopFailureText in a message box.
    virtual void CameraStartFailed(const CameraSettings& camera, uint32_t nCode,
                                   const std::string& hint);
    virtual void CameraStopFailed(const CameraSettings& camera);
    // A client's settings request for camera nCamera (from 0) has been
    // applied and written to the settings file: the window refreshes its
    // controls when that camera is the selected one.
    virtual void CameraSettingsApplied(int nCamera) { (void)nCamera; }

    // The image folder does not exist: true creates it. Asked once, at
    // start-up; the default declines.
    virtual bool AskCreateImageFolder(const std::string& folder) {
        (void)folder;
        return false;
    }

    // --- Frame cycle (runtime thread, during Tick) ---
    // With the cycles on workers, what a cycle reports comes at the first
    // tick after it ended.

    // "検出" and "保存": a change was detected, an image was saved.
    virtual void ChangeDetected(int nCamera) { (void)nCamera; }
    virtual void ImageSaved(int nCamera) { (void)nCamera; }
    // Whether the camera's image viewer is open in live mode; true makes the
    // cycle call LiveFrame.
    virtual bool WantsLiveFrame(int nCamera) {
        (void)nCamera;
        return false;
    }
    // The viewer's picture: the raw frame (bottom-up) and the composed
    // picture with its stamp (top-down), both valid during the call only;
    // ftCapture is the capture time as a FILETIME of local time.
    virtual void LiveFrame(int nCamera, const CaptureFrame& raw, const CompositionSurface& composed,
                           uint64_t ftCapture) {
        (void)nCamera;
        (void)raw;
        (void)composed;
        (void)ftCapture;
    }
    // The composed picture for the preview window and where its stamp is.
    virtual void PreviewFrame(int nCamera, const CompositionSurface& composed,
                              const StampPlacement& placement) {
        (void)nCamera;
        (void)composed;
        (void)placement;
    }

    // --- Connections (any connection thread) ---

    // The peer of a connection that started (the status field's text).
    virtual void PeerShown(const std::string& peer) { (void)peer; }
    // The connection status (CONNECTION_IDLE ... CONNECTION_DISCONNECTED).
    virtual void StatusChanged(int32_t nStatus) { (void)nStatus; }
    // Whether images are going out unenciphered.
    virtual void CipherWarning(bool fShow) { (void)fShow; }
    // The sent counts moved; ServerRuntime::CountsOf has the new values.
    virtual void SentCountsChanged() {}

    // --- Send queue (runtime thread or a connection thread) ---

    // The queue dropped an image of camera nCamera, which has now dropped
    // nDroppedCount. Called with the queue's lock held: the host must not
    // call back into the runtime from here.
    virtual void ImageDropped(int nCamera, uint32_t nDroppedCount) {
        (void)nCamera;
        (void)nDroppedCount;
    }
};

} // namespace brindle
