// The server's one remote property dialog, shared by the connection
// threads (commands, updates) and the program's own view of it. Every
// member takes the lock, so the tracking marks and the pending update move
// together: an update taken by a connection thread carries exactly the
// changes marked before it, and a change made meanwhile goes into the next.
#pragma once

#include "server/connections/property_dialog.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace brindle {

class PropertyRemote {
  public:
    // Called (outside the lock) whenever an update becomes pending, so that
    // the connection threads wake.
    void SetWaker(std::function<void()> waker);

    // Command 0 from the conversation `owner`: closes any dialog, then
    // builds one for camera nCamera (from 1) from `device` (null: none to
    // build) and returns the reply payload; an empty description without
    // a device or without controls.
    std::vector<uint8_t> Open(int32_t nCamera, std::shared_ptr<CameraControls> device,
                              uint32_t nPacketMax, const void* owner);
    // Commands 3-6; ignored without a dialog or when they cannot be carried
    // out. Returns whether the dialog was operated.
    bool Command(std::span<const uint8_t> payload);
    // The conversation `owner` ended: its dialog closes, a pending update
    // is dropped.
    void ConversationEnded(const void* owner);
    // The server's own view closed the dialog: a close update replaces any
    // pending value update. With hDialog, only when the open dialog is that
    // one (a client may have replaced the one the view showed).
    void CloseFromView(uint32_t hDialog = 0);
    // After an operation in the server's own view: re-reads the controls.
    void RefreshFromView();

    // Runs `fn` on the open dialog and its device under the lock (the
    // server's own view); false without a dialog.
    bool WithDialog(const std::function<void(PropertyDialog&, CameraControls&)>& fn);
    bool IsOpen();
    // A copy of the open dialog's windows; false (and empty) without one.
    bool Snapshot(std::vector<PropertyWindow>& windows);
    // Moves whenever the dialog may have changed (opened, operated,
    // re-read, closed), so that a view knows when to look again.
    uint64_t Revision() const { return nRevision_.load(); }

    // A pending update as a payload: camera, kind, n, items. False when
    // none is pending (or a value update found nothing to carry). Clears
    // the pending update and the marks it carried.
    struct Update {
        std::vector<uint8_t> payload;
        int32_t nCamera = 0;
        uint32_t nKind = 0;
        uint32_t nItems = 0;
    };
    bool TakeUpdate(Update& update);
    bool UpdatePending();

  private:
    void CloseLocked();
    void MakePendingLocked(uint32_t nKind);
    void Wake();

    std::mutex lock_;
    std::atomic<uint64_t> nRevision_{0};
    std::unique_ptr<PropertyDialog> dialog_;
    std::shared_ptr<CameraControls> device_;
    const void* owner_ = nullptr;
    int32_t nPendingCamera_ = 0; // 0: no update pending
    uint32_t nPendingKind_ = 0;
    std::function<void()> waker_;
};

} // namespace brindle
