#include "server/capture/frame_cycle.h"

#include "imagestore/image_path.h"
#include "server/capture/difference.h"

#include <mutex>
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
    uint32_t nCycle = settings.nCycle < 1 ? 1u : uint32_t(settings.nCycle);
    return nNow - camera.cycle.nLastCycleTick >= nCycle * 1000 - 25;
}

namespace {

// The frame to process this cycle and its capture time.
struct Chosen {
    const CaptureFrame* frame = nullptr;
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
    const CaptureFrame& candidate = cycle.spare;
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

// Stamp, encode, save, queue and hand over one chosen frame.
void ProcessFrame(CameraEntry& camera, int nCamera, FrameCycleContext& context,
                  const Chosen& chosen) {
    const CameraSettings& settings = camera.settings;
    CompositionSurface& surface = camera.capture.surface;
    if (!surface.Exists())
        return;
    QFont font;
    {
        std::lock_guard<std::mutex> guard(context.shared.mainLock);
        font = camera.stampFont;
    }
    StampPlacement placement;
    if (!surface.Compose(*chosen.frame, settings.nTime, font, StampText(chosen.time), placement))
        return;
    if (camera.capture.fPreviewAtStart)
        context.events.PreviewFrame(nCamera, surface, placement);

    std::vector<uint8_t> jpeg;
    bool fEncoded = EncodeJpeg(surface.Bits(), surface.Width(), surface.Height(), surface.Stride(),
                               settings.nQuality, camera.cycle.scratch, jpeg) == 0;
    uint64_t ftCapture = SystemTimeToFileTime(chosen.time);
    if (fEncoded && settings.fSave)
        SaveImage(camera, nCamera, context, chosen.time, jpeg);
    if (fEncoded && settings.fSend &&
        context.shared.nConnectionStatus.load() == CONNECTION_CONNECTED) {
        std::lock_guard<std::mutex> guard(context.shared.mainLock);
        context.shared.AppendImage(SendQueueEntry{nCamera, std::move(jpeg), ftCapture});
    }
    if (context.events.WantsLiveFrame(nCamera))
        context.events.LiveFrame(nCamera, *chosen.frame, surface, ftCapture);
}

} // namespace

void RunFrameCycle(CameraEntry& camera, int nCamera, FrameCycleContext& context) {
    uint32_t nNow = context.clock.Tick();
    if (!IsCycleDue(camera, nNow))
        return;
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

void PublishCameras(const std::vector<CameraEntry>& cameras, ServerShared& shared) {
    std::vector<std::string> names;
    for (const CameraEntry& camera : cameras)
        names.push_back(camera.settings.cName);
    std::lock_guard<std::mutex> guard(shared.mainLock);
    shared.SetCameras(names);
}

} // namespace brindle
