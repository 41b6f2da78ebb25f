#include "server/app/host_viewer.h"

#include "common/settings.h"
#include "server/app/server_runtime.h"
#include "server/capture/composition.h"

#include <cstring>

namespace brindle {

namespace {

constexpr char IMAGE_SECTION[] = "Image";
constexpr uint32_t PLACEMENT_BUFFER = 260;

const CameraSettings& SettingsOf(ServerRuntime& runtime, int nCamera) {
    return runtime.Cameras()[static_cast<size_t>(nCamera)].settings;
}

} // namespace

HostViewer::HostViewer(ServerRuntime& runtime, int nCamera, bool fTray)
    : runtime_(runtime), nCamera_(nCamera), fTray_(fTray) {}

std::string HostViewer::Title() const {
    const CameraSettings& s = SettingsOf(runtime_, nCamera_);
    return FormatViewerTitle(std::string(), s.cName, s.nIndex);
}

std::string HostViewer::PlacementKey() const {
    return FormatPlacementKey(std::string(), SettingsOf(runtime_, nCamera_).cName2);
}

ImageTree HostViewer::Tree() const {
    return ImageTree{runtime_.Settings().cFolder, std::string(),
                     SettingsOf(runtime_, nCamera_).cName2};
}

int HostViewer::RetentionDays() const {
    return SettingsOf(runtime_, nCamera_).nDays;
}

std::string HostViewer::ReadPlacement(const std::string& key) {
    std::string buffer(PLACEMENT_BUFFER, '\0');
    SettingDescriptor setting;
    setting.pcSection = IMAGE_SECTION;
    setting.pcKey = key.c_str();
    setting.pDefault = "";
    setting.pValue = buffer.data();
    setting.pcFile = runtime_.SettingsFile().c_str();
    setting.nFlags = SettingTextFlags(PLACEMENT_BUFFER);
    SettingRead(setting);
    buffer.resize(std::strlen(buffer.c_str()));
    return buffer;
}

void HostViewer::WritePlacement(const std::string& key, const std::string& value) {
    SettingDescriptor setting;
    setting.pcSection = IMAGE_SECTION;
    setting.pcKey = key.c_str();
    setting.pcFile = runtime_.SettingsFile().c_str();
    setting.nFlags = SettingTextFlags(PLACEMENT_BUFFER);
    SettingWriteText(setting, value);
}

void HostViewer::SetLiveSlot(std::shared_ptr<LiveFrameSlot> slot) {
    slot_ = std::move(slot);
}

bool HostViewer::WantsLive() const {
    return slot_ && slot_->Wanted();
}

void HostViewer::OfferLive(const CompositionSurface& composed, uint64_t ftCapture) {
    if (!WantsLive() || !composed.Exists())
        return;
    ViewerPicture picture;
    picture.nWidth = composed.Width();
    picture.nHeight = composed.Height();
    const size_t nRow = static_cast<size_t>(picture.nWidth) * 3;
    picture.nStride = (nRow + 3) & ~size_t{3};
    picture.pixels.resize(picture.nStride * static_cast<size_t>(picture.nHeight));
    for (int32_t y = 0; y < picture.nHeight; ++y)
        std::memcpy(picture.pixels.data() + picture.nStride * static_cast<size_t>(y),
                    composed.Bits() + composed.Stride() * static_cast<size_t>(y), nRow);
    slot_->Offer(std::move(picture), ftCapture);
}

} // namespace brindle
