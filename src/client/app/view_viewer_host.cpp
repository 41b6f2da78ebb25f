#include "client/app/view_viewer_host.h"

#include "client/app/client_window.h"
#include "client/connections/client_context.h"
#include "common/ini_file.h"

namespace brindle {

namespace {

// The camera's name, folder name and instance number, read under the lock.
struct CameraNames {
    std::string cName, cName2;
    int32_t nIndex = 1;
};

CameraNames NamesOf(ClientContext& ctx, const ClientViewer& viewer) {
    CameraNames names;
    std::lock_guard<std::mutex> guard(ctx.lock);
    if (viewer.psp != nullptr && viewer.nCamera >= 0 &&
        static_cast<size_t>(viewer.nCamera) < viewer.psp->cameras.size()) {
        const CameraInfo& c = viewer.psp->cameras[static_cast<size_t>(viewer.nCamera)];
        names = {c.cName, c.cName2, c.nIndex};
    }
    return names;
}

} // namespace

std::string ViewViewerHost::Title() const {
    CameraNames names = NamesOf(window_.Runtime().Context(), viewer_);
    return FormatViewerTitle(viewer_.psp->cAddress, names.cName, names.nIndex);
}

std::string ViewViewerHost::PlacementKey() const {
    CameraNames names = NamesOf(window_.Runtime().Context(), viewer_);
    return FormatPlacementKey(viewer_.psp->cAddress, names.cName2);
}

// A name that cannot be a folder level leaves the tree without a camera
// folder; the listing then finds nothing instead of reading elsewhere.
ImageTree ViewViewerHost::Tree() const {
    ImageTree tree;
    tree.cFolder = window_.Runtime().SaveFolder();
    CameraNames names = NamesOf(window_.Runtime().Context(), viewer_);
    if (!SafeFolderLevel(viewer_.psp->cAddress, tree.cServer) ||
        !SafeFolderLevel(names.cName2, tree.cCamera))
        tree.cCamera.clear();
    return tree;
}

int ViewViewerHost::RetentionDays() const {
    return static_cast<int>(window_.Runtime().Days());
}

bool ViewViewerHost::HasTray() const {
    return window_.HasTray();
}

std::string ViewViewerHost::ReadPlacement(const std::string& key) {
    std::string value;
    IniReadKey(window_.Runtime().Context().cSettingsFile, "Image", key, value);
    return value;
}

void ViewViewerHost::WritePlacement(const std::string& key, const std::string& value) {
    IniWriteKey(window_.Runtime().Context().cSettingsFile, "Image", key, value);
}

void ViewViewerHost::SetLiveSlot(std::shared_ptr<LiveFrameSlot> slot) {
    window_.SetLiveSlot(&viewer_, std::move(slot));
}

void ViewViewerHost::ViewerClosed() {
    window_.ViewerClosed(&viewer_);
}

} // namespace brindle
