#include "server/app/server_runtime.h"

#include "common/error_codes.h"
#include "common/error_text.h"
#include "common/file_io.h"
#include "common/font_text.h"
#include "common/log.h"
#include "common/settings.h"
#include "imagestore/image_list.h"
#include "platform/computer_name.h"
#include "server/app/host_options.h"
#include "server/app/server_relay.h"
#include "server/capture/camera_list.h"
#include "server/capture/stamp_font.h"

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>

namespace brindle {

ServerRuntime::ServerRuntime(RuntimeOptions options)
    : options_(std::move(options)), clock_(options_.pClock ? *options_.pClock : SystemClock()),
      power_(options_.pPower ? *options_.pPower : nullPower_),
      host_(options_.pHost ? *options_.pHost : defaultHost_), bridge_(host_) {}

ServerRuntime::~ServerRuntime() {
    Shutdown();
}

void ServerRuntime::MakeBackend() {
    if (options_.pBackend != nullptr) {
        backend_ = options_.pBackend;
        return;
    }
    if (options_.fRealCameras) {
        v4l2Backend_ = std::make_unique<V4l2Backend>();
        combined_.Add(v4l2Backend_.get());
    }
    // "--test-camera N" or "TestCamera=N" in [Settings], whichever asks for more.
    const int nTestCameras = std::clamp<int>(
        std::max<int64_t>(options_.nTestCameras, settings_.nTestCamera), 0, TEST_CAMERAS_MAX);
    if (nTestCameras > 0) {
        testBackend_ =
            std::make_unique<TestCameraBackend>(nTestCameras, clock_, settings_.nTestPattern);
        combined_.Add(testBackend_.get());
    }
    backend_ = &combined_;
}

uint32_t ServerRuntime::Start() {
    cSettingsFile_ = options_.cDataFolder + "/" + SERVER_SETTINGS_FILE_NAME;
    SetProgramSettingsFile(cSettingsFile_);
    ReadServerSettings(cSettingsFile_, options_.cDataFolder, settings_);
    g_nDebug.store(settings_.nDebug);
    EnsureImageFolder();
    // What a crash left half-written goes before anything is written.
    RemoveLeftoverTempFiles(options_.cDataFolder);
    RemoveLeftoverImageTemps(settings_.cFolder);

    shared_ = std::make_unique<ServerShared>(settings_.nMaxImage);
    shared_->dropObserver = &bridge_;
    context_ = std::make_unique<ServerContext>(*shared_, *this, clock_);
    context_->cSettingsFile = cSettingsFile_;
    context_->nPacketMax.store(settings_.nPacket);
    context_->nCrypt.store(static_cast<int>(settings_.nCrypt));
    context_->fNoSleep.store(settings_.fNoSleep);
    context_->SetPassword(ServerPassword{settings_.cPassword, settings_.nPasswordStamp});
    connections_ = std::make_unique<ConnectionManager>(*context_, options_.cBindAddress);

    MakeBackend();
    if (uint32_t err = BuildCameraList(*backend_, cSettingsFile_, cameras_)) {
        LogWrite("%s\r\n", CAMERA_LIST_NO_MEMORY_TEXT);
        return err;
    }
    PublishCameras(cameras_, *shared_);
    viewers_ = std::vector<ViewerEntry>(cameras_.size());
    PublishViews();
    StartCamerasInUse(cameras_, *backend_, bridge_);
    MakeCyclePool();
    OpenListener();
    relay_ = std::make_unique<ServerRelay>(*connections_, clock_, power_);
    if (uint32_t err = relay_->Start(cSettingsFile_, ComputerName(), settings_.fWebdav))
        return err;
    fStarted_ = true;
    return 0;
}

// The image folder that is the data folder itself is created; another one
// may be a disk that is not mounted, so the host is asked first (the
// headless program has nobody to ask and declines).
void ServerRuntime::EnsureImageFolder() {
    struct stat st {};
    if (::stat(settings_.cFolder.c_str(), &st) == 0)
        return;
    if (settings_.cFolder == options_.cDataFolder) {
        ::mkdir(settings_.cFolder.c_str(), 0700);
    } else if (host_.AskCreateImageFolder(settings_.cFolder)) {
        std::error_code ec;
        std::filesystem::create_directories(settings_.cFolder, ec);
        if (ec)
            LogWrite("保存フォルダ%sを作成できません(%s)\r\n", settings_.cFolder.c_str(),
                     ec.message().c_str());
    } else {
        LogWrite("保存フォルダ%sが見つかりません\r\n", settings_.cFolder.c_str());
    }
}

void ServerRuntime::OpenListener() {
    if (settings_.nPort > 65535) {
        LogWrite("ソケットバインドに失敗(0x%08X-%s)\r\n", ERROR_INVALID_PARAMETER_CODE,
                 ErrorText(ERROR_INVALID_PARAMETER_CODE).c_str());
        return;
    }
    connections_->OpenListener(static_cast<uint16_t>(settings_.nPort));
}

void ServerRuntime::PublishViews() {
    std::lock_guard<std::mutex> lock(eventLock_);
    views_.clear();
    devices_.clear();
    for (const CameraEntry& camera : cameras_) {
        const CameraSettings& s = camera.settings;
        views_.push_back(CameraRequestView{s.fUse != 0, s.fPreview != 0, s.nFormat,
                                           static_cast<int>(s.formats.size())});
        devices_.emplace_back(s.cPath, s.cName);
    }
}

void ServerRuntime::Shutdown() {
    if (fClosing_)
        return;
    fClosing_ = true;
    // Running cycles end first: they queue images and use the cameras.
    if (pool_)
        pool_->Shutdown();
    if (relay_)
        relay_->StopBackground();
    if (connections_)
        connections_->StopAll(ConnectionManager::STOP_GRACE_MS, [this] {
            if (relay_)
                relay_->AbandonRequests();
        });
    if (relay_)
        relay_->Close();
    for (CameraEntry& camera : cameras_) {
        if (camera.capture.fRunning)
            StopCamera(camera, bridge_);
    }
    // Listing workers are joined as their entries go.
    viewers_.clear();
    power_.SetExecutionState(POWER_CONTINUOUS);
}

// --- what other threads report ---

int ServerRuntime::CameraCount() {
    std::lock_guard<std::mutex> lock(eventLock_);
    return static_cast<int>(views_.size());
}

bool ServerRuntime::CameraView(int nIndex, CameraRequestView& view) {
    std::lock_guard<std::mutex> lock(eventLock_);
    if (nIndex < 0 || static_cast<size_t>(nIndex) >= views_.size())
        return false;
    view = views_[static_cast<size_t>(nIndex)];
    return true;
}

void ServerRuntime::CameraSettingsChanged(int nIndex, const CameraRequest& request, bool fRestart) {
    std::lock_guard<std::mutex> lock(eventLock_);
    if (nIndex < 0 || static_cast<size_t>(nIndex) >= views_.size())
        return;
    // A second request before this one is applied compares with its values.
    CameraRequestView& view = views_[static_cast<size_t>(nIndex)];
    view.fUse = (request.nOptions & REQUEST_USE) != 0;
    view.fPreview = (request.nOptions & REQUEST_PREVIEW) != 0;
    view.nFormat = static_cast<int>(request.nFormat);
    changes_.push_back(PendingChange{nIndex, request, fRestart});
}

std::shared_ptr<CameraControls> ServerRuntime::CameraControlsOf(int nIndex) {
    std::pair<std::string, std::string> device;
    {
        std::lock_guard<std::mutex> lock(eventLock_);
        if (nIndex < 0 || static_cast<size_t>(nIndex) >= devices_.size() || backend_ == nullptr)
            return nullptr;
        device = devices_[static_cast<size_t>(nIndex)];
    }
    // The backend outlives the dialog: the connections, which close it,
    // stop before the backends go.
    return std::make_shared<BackendCameraControls>(*backend_, device.first, device.second);
}

void ServerRuntime::PeerShown(const std::string& peer) {
    host_.PeerShown(peer);
}

void ServerRuntime::StatusChanged(int32_t nStatus) {
    host_.StatusChanged(nStatus);
}

void ServerRuntime::CipherWarning(bool fShow) {
    host_.CipherWarning(fShow);
}

void ServerRuntime::SentCountsChanged() {
    host_.SentCountsChanged();
}

CameraCounts ServerRuntime::CountsOf(int nCamera) {
    std::lock_guard<std::mutex> lock(shared_->mainLock);
    if (nCamera < 0 || static_cast<size_t>(nCamera) >= shared_->counts.size())
        return CameraCounts{};
    return shared_->counts[static_cast<size_t>(nCamera)];
}

uint32_t ServerRuntime::QueuedImageCount() {
    std::lock_guard<std::mutex> lock(shared_->mainLock);
    return shared_->queue.Count();
}

uint32_t ServerRuntime::QueueCapacity() {
    std::lock_guard<std::mutex> lock(shared_->mainLock);
    return shared_->queue.Capacity();
}

void ServerRuntime::PowerSuspending() {
    std::lock_guard<std::mutex> lock(eventLock_);
    fSuspendEvent_ = true;
}

void ServerRuntime::PowerResumed() {
    std::lock_guard<std::mutex> lock(eventLock_);
    fResumeEvent_ = true;
}

} // namespace brindle
