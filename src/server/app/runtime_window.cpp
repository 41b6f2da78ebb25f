// What the main window changes in the running server.
#include "common/error_codes.h"
#include "common/log.h"
#include "common/settings.h"
#include "server/app/server_runtime.h"
#include "server/capture/camera_list.h"
#include "server/capture/stamp_font.h"

#include <algorithm>

namespace brindle {

CameraRequest CameraRequestOf(const CameraSettings& s) {
    CameraRequest r;
    r.nOptions = (s.fUse ? REQUEST_USE : 0u) | (s.fSend ? REQUEST_SEND : 0u) |
                 (s.fPreview ? REQUEST_PREVIEW : 0u) | (s.fChange ? REQUEST_CHANGE : 0u) |
                 (s.fSave ? REQUEST_SAVE : 0u);
    r.nFormat = static_cast<uint32_t>(std::max(s.nFormat, 0));
    r.nCycle = static_cast<uint32_t>(std::max(s.nCycle, 0));
    r.nSensitivity = static_cast<uint32_t>(std::max(s.nSensitivity, 0));
    r.nQuality = static_cast<uint32_t>(std::max(s.nQuality, 0));
    r.nTime = static_cast<uint32_t>(std::max(s.nTime, 0));
    r.nDays = static_cast<uint32_t>(std::max(s.nDays, 0));
    r.cFont = StampFontText(s);
    return r;
}

ViewerEntry* ServerRuntime::Viewer(int nCamera) {
    if (nCamera < 0 || static_cast<size_t>(nCamera) >= viewers_.size())
        return nullptr;
    return &viewers_[static_cast<size_t>(nCamera)];
}

uint32_t ServerRuntime::EditCamera(int nCamera, const CameraRequest& request) {
    if (nCamera < 0 || static_cast<size_t>(nCamera) >= cameras_.size())
        return ERROR_INVALID_PARAMETER_CODE;
    uint32_t err = ApplyRequest(nCamera, request, false);
    PublishViews();
    return err;
}

uint32_t ServerRuntime::SetCameraFont(int nCamera, const std::string& fontText) {
    if (nCamera < 0 || static_cast<size_t>(nCamera) >= cameras_.size())
        return ERROR_INVALID_PARAMETER_CODE;
    CameraEntry& camera = cameras_[static_cast<size_t>(nCamera)];
    if (uint32_t err = SetStampFont(camera, fontText, shared_->mainLock))
        return err;
    return SaveCameraSettings(camera.settings, cSettingsFile_);
}

uint32_t ServerRuntime::SetPort(uint32_t nPort) {
    if (nPort < 1 || nPort > 65535)
        return ERROR_INVALID_PARAMETER_CODE;
    if (nPort == settings_.nPort)
        return 0;
    settings_.nPort = nPort;
    uint32_t err = WriteServerNumber(cSettingsFile_, "Port", 0, nPort);
    nListenerRetryTick_ = 0;
    OpenListener();
    return err;
}

uint32_t ServerRuntime::SetImageFolder(const std::string& folder) {
    if (folder.empty() || folder.size() > FOLDER_TEXT_MAX)
        return ERROR_INVALID_PARAMETER_CODE;
    settings_.cFolder = folder;
    return WriteServerText(cSettingsFile_, "Folder", folder);
}

uint32_t ServerRuntime::SetCrypt(uint32_t nCrypt) {
    nCrypt = std::min<uint32_t>(nCrypt, 8);
    settings_.nCrypt = nCrypt;
    context_->nCrypt.store(static_cast<int>(nCrypt));
    return WriteServerNumber(cSettingsFile_, "Crypt", 0, nCrypt);
}

uint32_t ServerRuntime::SetNoSleep(bool fNoSleep) {
    settings_.fNoSleep = fNoSleep;
    context_->fNoSleep.store(fNoSleep);
    // Renewed at the next tick with the new flags.
    nKeepAwakeTick_ = 0;
    return WriteServerNumber(cSettingsFile_, "NoSleep", SETTING_YESNO, fNoSleep ? 1 : 0);
}

uint32_t ServerRuntime::SetPassword(const std::string& password, uint64_t nStamp) {
    if (password == context_->Password().cPassword)
        return 0;
    settings_.cPassword = password;
    settings_.nPasswordStamp = nStamp;
    context_->SetPassword(ServerPassword{password, nStamp});
    return WritePassword(cSettingsFile_, password, nStamp);
}

uint32_t ServerRuntime::SavePlacement(int32_t nLeft, int32_t nTop) {
    settings_.nLeft = nLeft;
    settings_.nTop = nTop;
    uint32_t err =
        WriteServerNumber(cSettingsFile_, "Left", SETTING_SIGNED, static_cast<uint32_t>(nLeft));
    uint32_t err2 =
        WriteServerNumber(cSettingsFile_, "Top", SETTING_SIGNED, static_cast<uint32_t>(nTop));
    return err != 0 ? err : err2;
}

uint32_t ServerRuntime::ComposePreviewOf(int nCamera, QImage& picture) {
    if (nCamera < 0 || static_cast<size_t>(nCamera) >= cameras_.size())
        return ERROR_INVALID_PARAMETER_CODE;
    if (pool_ && pool_->Busy(nCamera))
        return ERROR_SHARING_VIOLATION_CODE;
    CameraEntry& camera = cameras_[static_cast<size_t>(nCamera)];
    StampPlacement placement;
    if (uint32_t err = ComposePreview(camera, clock_, shared_->mainLock, placement))
        return err;
    picture = camera.capture.surface.Image().copy();
    return 0;
}

int32_t ServerRuntime::ConnectionStatus() const {
    return shared_ ? shared_->nConnectionStatus.load() : CONNECTION_IDLE;
}

} // namespace brindle
