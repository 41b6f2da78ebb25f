// The runtime's 50 ms tick and the work it carries out for other threads.
#include "common/log.h"
#include "imagestore/image_list.h"
#include "server/app/server_relay.h"
#include "server/app/server_runtime.h"
#include "server/capture/camera_list.h"
#include "server/capture/stamp_font.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ctime>

namespace brindle {

namespace {

uint64_t ThreadCpuMicroseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000 + static_cast<uint64_t>(now.tv_nsec) / 1000;
}

} // namespace

void ServerRuntime::Tick() {
    if (!fStarted_ || fClosing_ || fTimerBusy_)
        return;
    fTimerBusy_ = true;
    const auto start = std::chrono::steady_clock::now();
    const uint64_t nCpuStart = ThreadCpuMicroseconds();
    uint32_t nNow = clock_.Tick();
    ProcessEvents();
    CheckResume(nNow);
    RunFrameCycles();
    CheckListener(nNow);
    if (relay_)
        relay_->Tick(nNow);
    RunHourlyListing();
    RenewKeepAwake(nNow);
    tickTimes_.Add(static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                             std::chrono::steady_clock::now() - start)
                                             .count()));
    tickCpuTimes_.Add(ThreadCpuMicroseconds() - nCpuStart);
    fTimerBusy_ = false;
}

void ServerRuntime::ProcessEvents() {
    std::deque<PendingChange> changes;
    bool fSuspend = false;
    bool fResume = false;
    {
        std::lock_guard<std::mutex> lock(eventLock_);
        changes.swap(changes_);
        fSuspend = std::exchange(fSuspendEvent_, false);
        fResume = std::exchange(fResumeEvent_, false);
    }
    if (fSuspend)
        powerState_.fSuspending = true;
    if (fResume)
        powerState_.nResumeTick = NonZeroTickOf(clock_.Tick());
    if (relay_ && fSuspend)
        relay_->Suspending();
    if (relay_ && fResume)
        relay_->Resumed();
    for (const PendingChange& change : changes)
        ApplyChange(change);
    if (!changes.empty())
        PublishViews();
}

// A client changed a camera's settings: take them as the window takes its
// own edits, write "Crypt" and "NoSleep" too, and tell the window.
void ServerRuntime::ApplyChange(const PendingChange& change) {
    ApplyRequest(change.nIndex, change.request, change.fRestart);
    WriteCryptAndNoSleep(cSettingsFile_, static_cast<uint32_t>(context_->nCrypt.load()),
                         context_->fNoSleep.load());
    host_.CameraSettingsApplied(change.nIndex);
}

// Take a camera's new settings, restart the capture when asked or when use,
// preview or format changed, start it when it should run (this also retries
// a camera that failed to start), and write the keys.
uint32_t ServerRuntime::ApplyRequest(int nIndex, const CameraRequest& r, bool fRestartAsked) {
    HoldCycle(nIndex);
    CameraEntry& camera = cameras_[static_cast<size_t>(nIndex)];
    CameraSettings& s = camera.settings;
    bool fRestart = fRestartAsked || s.fUse != ((r.nOptions & REQUEST_USE) != 0) ||
                    s.fPreview != ((r.nOptions & REQUEST_PREVIEW) != 0) ||
                    s.nFormat != static_cast<int>(r.nFormat);
    s.fUse = (r.nOptions & REQUEST_USE) != 0;
    s.fSend = (r.nOptions & REQUEST_SEND) != 0;
    s.fPreview = (r.nOptions & REQUEST_PREVIEW) != 0;
    s.fChange = (r.nOptions & REQUEST_CHANGE) != 0;
    s.fSave = (r.nOptions & REQUEST_SAVE) != 0;
    s.nFormat = static_cast<int>(r.nFormat);
    // The cycle runs on a 32-bit millisecond clock, and both numbers are
    // stored signed: larger values would wrap.
    s.nCycle = static_cast<int>(std::min<uint32_t>(r.nCycle, CYCLE_MAX_SECONDS));
    s.nSensitivity = static_cast<int>(r.nSensitivity);
    s.nQuality = static_cast<int>(r.nQuality);
    s.nTime = static_cast<int>(r.nTime);
    s.nDays = static_cast<int>(std::min<uint32_t>(r.nDays, INT32_MAX));
    LogFont font;
    if (TextToFont(r.cFont, font) == 0)
        SetStampFont(camera, r.cFont, shared_->mainLock);
    if (fRestart && camera.capture.fRunning)
        StopCamera(camera, bridge_);
    if (s.fUse && !camera.capture.fRunning)
        StartCamera(camera, *backend_, bridge_);
    return SaveCameraSettings(s, cSettingsFile_);
}

// 30 s after an automatic resume the cameras in use are started afresh:
// many deliver no frames after a suspend until they are reopened.
void ServerRuntime::CheckResume(uint32_t nNow) {
    if (powerState_.nResumeTick == 0 || nNow - powerState_.nResumeTick <= RESUME_QUIET_MS)
        return;
    powerState_.fSuspending = false;
    powerState_.nResumeTick = 0;
    for (size_t i = 0; i < cameras_.size(); ++i) {
        CameraEntry& camera = cameras_[i];
        if (!camera.settings.fUse || !camera.capture.fRunning)
            continue;
        HoldCycle(static_cast<int>(i));
        StopCamera(camera, bridge_);
        StartCamera(camera, *backend_, bridge_);
    }
}

void ServerRuntime::CheckListener(uint32_t nNow) {
    if (connections_->TakeListenerFailure())
        nListenerRetryTick_ = NonZeroTickOf(nNow);
    if (nListenerRetryTick_ != 0 && nNow - nListenerRetryTick_ > LISTENER_RETRY_MS) {
        nListenerRetryTick_ = 0;
        OpenListener();
    }
}

// At the first tick and at the first tick of every hour each camera's
// image list is brought up to date and its old day folders removed; a new
// day rebuilds the lists from scratch.
void ServerRuntime::RunHourlyListing() {
    // A listing is read on the ticks after it started, so that it is complete
    // by the next hour and that hour starts a new one (with its removal of old
    // day folders) instead of only finishing this one.
    for (ViewerEntry& viewer : viewers_)
        if (viewer.hListFile.Valid())
            ListFilesSub(viewer);
    ListingTick tick = CheckListingTick(listingClock_, clock_.LocalNow());
    if (tick == ListingTick::kNone)
        return;
    for (size_t i = 0; i < cameras_.size() && i < viewers_.size(); ++i) {
        const CameraSettings& s = cameras_[i].settings;
        ImageTree tree{settings_.cFolder, std::string(), s.cName2};
        RunListingTick(viewers_[i], tick, tree, s.nDays, clock_);
    }
}

void ServerRuntime::RenewKeepAwake(uint32_t nNow) {
    if (nKeepAwakeTick_ != 0 && nNow - nKeepAwakeTick_ <= KEEP_AWAKE_RENEW_MS)
        return;
    nKeepAwakeTick_ = NonZeroTickOf(nNow);
    uint32_t nFlags = POWER_CONTINUOUS;
    int32_t nStatus = shared_->nConnectionStatus.load();
    if (context_->fNoSleep.load() && nStatus != CONNECTION_IDLE &&
        nStatus != CONNECTION_DISCONNECTED)
        nFlags |= POWER_SYSTEM_REQUIRED | POWER_AWAYMODE_REQUIRED;
    power_.SetExecutionState(nFlags);
}

} // namespace brindle
