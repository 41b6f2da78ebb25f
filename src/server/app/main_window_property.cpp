// The main window's "プロパティ" (1007): the selected camera's own control
// dialog, shown by HostPropertyDialog; also the dialog a client opened
// remotely, shown as soon as the window sees it.
#include "server/app/host_property_dialog.h"
#include "server/app/main_window.h"

namespace brindle {

void HostMainWindow::OpenProperty() {
    if (!fStarted_ || nSelected_ < 0)
        return;
    PropertyRemote& remote = runtime_->Property();
    // One dialog for the whole server: the one a client has open is shown
    // rather than replaced under it.
    if (!remote.IsOpen()) {
        remote.Open(nSelected_ + 1, runtime_->CameraControlsOf(nSelected_), runtime_->PacketMax(),
                    this);
        if (!remote.IsOpen()) {
            Tell(tr("このカメラには設定できる項目がありません"));
            return;
        }
    }
    FollowProperty();
    if (propertyView_ != nullptr) {
        propertyView_->show();
        propertyView_->raise();
    }
}

void HostMainWindow::FollowProperty() {
    if (!fStarted_ || fClosing_)
        return;
    if (propertyView_ == nullptr) {
        if (!runtime_->Property().IsOpen())
            return;
        propertyView_ = new HostPropertyDialog(runtime_->Property(), this);
    }
    propertyView_->Follow();
}

} // namespace brindle
