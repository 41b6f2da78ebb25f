#include "server/capture/frame_cycle.h"

#include "common/error_codes.h"
#include "imagestore/image_path.h"
#include "server/capture/difference.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <utility>

namespace brindle {

bool InPowerQuietTime(const PowerState& power, uint32_t nNow) {
    return power.fSuspending ||
           (power.nResumeTick != 0 && nNow - power.nResumeTick <= RESUME_QUIET_MS);
}

bool IsCycleDue(const CameraEntry& camera, uint32_t nNow) {
    const CameraSettings& settings = camera.settings;
    if (!settings.fUse || !camera.capture.fRunning)
        return false;
    // Clamped so that cycle x 1000 stays within the 32-bit tick.
    uint32_t nCycle = uint32_t(std::clamp(settings.nCycle, 1, int(CYCLE_MAX_SECONDS)));
    return nNow - camera.cycle.nLastCycleTick >= nCycle * 1000 - 25;
}

namespace {

// The frame to process this cycle and its capture time. The frame is the
// cycle's spare buffer, which is refilled by the next fetch, so it may be
// stamped where it is.
struct Chosen {
    CaptureFrame* frame = nullptr;
    SystemTime time{};
};

bool IsWholeFrame(const CaptureFrame& frame) {
    return frame.nWidth > 0 && frame.nHeight > 0 &&
           frame.pixels.size() >= DibStride(frame.nWidth) * size_t(frame.nHeight);
}

// Skipping unchanged images: the new frame becomes the reference, the
// previous reference the candidate, which is used only when the change
// state says so.
Chosen ChooseByChange(CameraEntry& camera, int nCamera, FrameCycleContext& context, uint32_t nNow) {
    FrameCycleState& cycle = camera.cycle;
    std::swap(cycle.reference, cycle.spare); // spare now holds the candidate
    SystemTime candidateTime = std::exchange(cycle.referenceTime, context.clock.LocalNow());
    bool fHadReference = std::exchange(cycle.fReference, true);
    CaptureFrame& candidate = cycle.spare;
    const CaptureFrame& fresh = cycle.reference;
    if (InPowerQuietTime(context.power, nNow) || !fHadReference ||
        candidate.nWidth != fresh.nWidth || candidate.nHeight != fresh.nHeight)
        return Chosen{};
    uint64_t nSum = FrameDifferenceSum(candidate.pixels.data(), fresh.pixels.data(), fresh.nWidth,
                                       fresh.nHeight);
    int32_t nLevel = DifferenceLevel(nSum, fresh.nWidth, fresh.nHeight);
    bool fChanged = UpdateHistory(cycle.history, nLevel, camera.settings.nSensitivity);
    cycle.nChangeState = NextChangeState(cycle.nChangeState, fChanged);
    if (cycle.nChangeState & CHANGE_DETECTED)
        context.events.ChangeDetected(nCamera);
    if ((cycle.nChangeState & CHANGE_USE_CANDIDATE) == 0)
        return Chosen{};
    return Chosen{&candidate, candidateTime};
}

void SaveImage(const CameraEntry& camera, int nCamera, FrameCycleContext& context,
               const SystemTime& time, const std::vector<uint8_t>& jpeg) {
    ImageTree tree{context.imageFolder, std::string(), camera.settings.cName2};
    std::string path;
    if (CreateImagePath(tree, time, path) != 0)
        return;
    if (SaveImageFile(path, jpeg.data(), jpeg.size()) == 0)
        context.events.ImageSaved(nCamera);
}

// The stamped picture to encode, as rows from the top.
struct StampedRows {
    const uint8_t* pTop = nullptr;
    ptrdiff_t nStep = 0;
    StampPlacement placement;
};

// Puts the stamp on. A frame that a preview or the viewer shows is composed
// on the surface, keeping the raw frame for the viewer; any other frame is
// stamped where it is, which spares copying it.
bool StampChosen(CameraEntry& camera, const Chosen& chosen, const QFont& font, bool fShow,
                 StampedRows& rows) {
    const int nTime = camera.settings.nTime;
    const std::string text = StampText(chosen.time);
    CaptureFrame& frame = *chosen.frame;
    if (fShow) {
        CompositionSurface& surface = camera.capture.surface;
        if (!surface.Compose(frame, nTime, font, text, rows.placement))
            return false;
        rows.pTop = surface.Bits();
        rows.nStep = static_cast<ptrdiff_t>(surface.Stride());
        return true;
    }
    if (!StampFrame(frame, nTime, font, text, rows.placement))
        return false;
    ptrdiff_t nStride = static_cast<ptrdiff_t>(DibStride(frame.nWidth));
    rows.pTop = frame.pixels.data() + nStride * (frame.nHeight - 1);
    rows.nStep = -nStride;
    return true;
}

// Stamp, encode, save, queue and hand over one chosen frame.
void ProcessFrame(CameraEntry& camera, int nCamera, FrameCycleContext& context,
                  const Chosen& chosen) {
    const CameraSettings& settings = camera.settings;
    if (!camera.capture.surface.Exists())
        return;
    QFont font;
    {
        std::lock_guard<std::mutex> guard(context.shared.mainLock);
        font = camera.stampFont;
    }
    const bool fPreview = camera.capture.fPreviewAtStart != 0;
    const bool fLive = context.events.WantsLiveFrame(nCamera);
    StampedRows rows;
    if (!StampChosen(camera, chosen, font, fPreview || fLive, rows))
        return;
    if (fPreview)
        context.events.PreviewFrame(nCamera, camera.capture.surface, rows.placement);

    std::vector<uint8_t> jpeg;
    bool fEncoded = EncodeJpeg(rows.pTop, chosen.frame->nWidth, chosen.frame->nHeight, rows.nStep,
                               settings.nQuality, camera.cycle.scratch, jpeg) == 0;
    uint64_t ftCapture = SystemTimeToFileTime(chosen.time);
    if (fEncoded && settings.fSave)
        SaveImage(camera, nCamera, context, chosen.time, jpeg);
    if (fEncoded && settings.fSend &&
        context.shared.nConnectionStatus.load() == CONNECTION_CONNECTED) {
        std::lock_guard<std::mutex> guard(context.shared.mainLock);
        context.shared.AppendImage(SendQueueEntry{nCamera, std::move(jpeg), ftCapture});
    }
    if (fLive)
        context.events.LiveFrame(nCamera, *chosen.frame, camera.capture.surface, ftCapture);
}

} // namespace

namespace {

void RunDueCycle(CameraEntry& camera, int nCamera, FrameCycleContext& context, uint32_t nNow) {
    FrameCycleState& cycle = camera.cycle;
    cycle.nLastCycleTick = NonZeroTickOf(nNow);
    if (!camera.capture.stream || camera.capture.stream->NewestFrame(cycle.spare) != 0 ||
        !IsWholeFrame(cycle.spare))
        return;
    Chosen chosen;
    if (camera.settings.fChange)
        chosen = ChooseByChange(camera, nCamera, context, nNow);
    else
        chosen = Chosen{&cycle.spare, context.clock.LocalNow()};
    if (chosen.frame != nullptr)
        ProcessFrame(camera, nCamera, context, chosen);
}

} // namespace

void RunFrameCycle(CameraEntry& camera, int nCamera, FrameCycleContext& context) {
    uint32_t nNow = context.clock.Tick();
    if (!IsCycleDue(camera, nNow))
        return;
    // Lack of memory ends this cycle quietly, like every other failure of
    // the pipeline; the next cycle tries again.
    try {
        RunDueCycle(camera, nCamera, context, nNow);
    } catch (const std::bad_alloc&) {
    }
}

uint32_t ComposePreview(CameraEntry& camera, const Clock& clock, std::mutex& mainLock,
                        StampPlacement& placement) {
    CaptureState& capture = camera.capture;
    if (!capture.fRunning || !capture.stream)
        return ERROR_INVALID_PARAMETER_CODE;
    // The spare buffer is free between cycles.
    CaptureFrame& frame = camera.cycle.spare;
    try {
        if (uint32_t nError = capture.stream->NewestFrame(frame); nError != 0)
            return nError;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY_CODE;
    }
    QFont font;
    {
        std::lock_guard<std::mutex> guard(mainLock);
        font = camera.stampFont;
    }
    return capture.surface.Compose(frame, camera.settings.nTime, font, StampText(clock.LocalNow()),
                                   placement)
               ? 0
               : ERROR_INVALID_PARAMETER_CODE;
}

void PublishCameras(const std::vector<CameraEntry>& cameras, ServerShared& shared) {
    std::vector<std::string> names;
    for (const CameraEntry& camera : cameras)
        names.push_back(camera.settings.cName);
    std::lock_guard<std::mutex> guard(shared.mainLock);
    shared.SetCameras(names);
}

} // namespace brindle
