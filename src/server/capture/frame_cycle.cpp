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
// cycle's spare buffer, which is refilled by the next fetch.
struct Chosen {
    CaptureFrame* frame = nullptr;
    SystemTime time{};
};

bool IsWholeFrame(const CaptureFrame& frame) {
    return frame.nWidth > 0 && frame.nHeight > 0 &&
           frame.pixels.size() >= DibStride(frame.nWidth) * size_t(frame.nHeight);
}

// The difference of the candidate and the new frame, summed a band of rows
// at a time. While the candidate is encoded, each band is summed just before
// the encoder reads it: the sum walks the band upwards through memory, as
// the prefetcher likes, and leaves it in the cache for the encoder, which
// walks a bottom-up frame downwards. The candidate is a cycle old and no
// longer cached; read first in whole for the sum, it would be gone again
// by the time the encoder came to it. The sum does not depend on the order
// of the rows.
class BandedDifference final : public JpegRowObserver {
  public:
    BandedDifference(const CaptureFrame& candidate, const CaptureFrame& fresh)
        : a_(candidate.pixels.data()), b_(fresh.pixels.data()), nWidth_(fresh.nWidth),
          nHeight_(fresh.nHeight) {}

    void BeforeRows(int32_t nFirstRow, int32_t nRows) override { SumTo(nFirstRow + nRows); }

    // The whole sum, the rows not yet seen included.
    uint64_t Total() {
        SumTo(nHeight_);
        return nSum_;
    }

  private:
    // Rows nNext_ to nEnd - 1 from the top lie together in the bottom-up
    // frames, starting at row nHeight_ - nEnd.
    void SumTo(int32_t nEnd) {
        nEnd = std::min(nEnd, nHeight_);
        if (nEnd <= nNext_)
            return;
        size_t nOffset = DibStride(nWidth_) * static_cast<size_t>(nHeight_ - nEnd);
        nSum_ += FrameDifferenceSum(a_ + nOffset, b_ + nOffset, nWidth_, nEnd - nNext_);
        nNext_ = nEnd;
    }

    const uint8_t* a_;
    const uint8_t* b_;
    int32_t nWidth_;
    int32_t nHeight_;
    int32_t nNext_ = 0; // rows from the top already summed
    uint64_t nSum_ = 0;
};

// The comparison of one cycle with change detection on, from the swap of
// the frames to the new change state.
class ChangeStep {
  public:
    ChangeStep(CameraEntry& camera, int nCamera, FrameCycleContext& context)
        : camera_(camera), nCamera_(nCamera), context_(context),
          difference_(camera.cycle.spare, camera.cycle.reference) {}

    BandedDifference& Difference() { return difference_; }

    // Completes the difference, updates the history and the change state and
    // shows a detected change. Only the first call counts.
    void Finish() {
        if (std::exchange(fFinished_, true))
            return;
        FrameCycleState& cycle = camera_.cycle;
        const CaptureFrame& fresh = cycle.reference;
        int32_t nLevel = DifferenceLevel(difference_.Total(), fresh.nWidth, fresh.nHeight);
        bool fChanged = UpdateHistory(cycle.history, nLevel, camera_.settings.nSensitivity);
        cycle.nChangeState = NextChangeState(cycle.nChangeState, fChanged);
        if (cycle.nChangeState & CHANGE_DETECTED)
            context_.events.ChangeDetected(nCamera_);
    }

  private:
    CameraEntry& camera_;
    int nCamera_;
    FrameCycleContext& context_;
    BandedDifference difference_;
    bool fFinished_ = false;
};

// Whether the candidate is used whatever this cycle's comparison finds; in
// every state but the first the previous comparison has decided it.
bool CandidateUseKnown(int nState, bool& fUse) {
    fUse = (NextChangeState(nState, true) & CHANGE_USE_CANDIDATE) != 0;
    return fUse == ((NextChangeState(nState, false) & CHANGE_USE_CANDIDATE) != 0);
}

void SaveImage(const CameraEntry& camera, int nCamera, FrameCycleContext& context,
               const SystemTime& time, const uint8_t* data, size_t nSize) {
    ImageTree tree{context.imageFolder, std::string(), camera.settings.cName2};
    if (SaveImageFile(tree, time, data, nSize) == 0)
        context.events.ImageSaved(nCamera);
}

// Puts the stamp on and fills the encoder's row table, top row first. A
// frame that a preview or the viewer shows is composed on the surface,
// keeping the raw frame for the viewer; for any other frame only the rows
// under the stamp are copied, which spares copying the whole frame and
// leaves the frame as it was.
bool StampChosen(CameraEntry& camera, const Chosen& chosen, const QFont& font, bool fShow,
                 StampPlacement& placement) {
    FrameCycleState& cycle = camera.cycle;
    const int nTime = camera.settings.nTime;
    const std::string text = StampText(chosen.time);
    const CaptureFrame& frame = *chosen.frame;
    std::vector<const uint8_t*>& table = cycle.rowTable;
    table.resize(static_cast<size_t>(frame.nHeight));
    if (fShow) {
        CompositionSurface& surface = camera.capture.surface;
        if (!surface.Compose(frame, nTime, font, text, placement))
            return false;
        for (int32_t r = 0; r < frame.nHeight; ++r)
            table[size_t(r)] = surface.Bits() + surface.Stride() * size_t(r);
        return true;
    }
    StampedRows& stamped = cycle.stampedRows;
    if (!StampRowsOf(frame, nTime, font, text, placement, stamped))
        return false;
    size_t nStride = DibStride(frame.nWidth);
    for (int32_t r = 0; r < frame.nHeight; ++r) {
        int32_t nBand = r - stamped.nFirstRow;
        table[size_t(r)] = nBand >= 0 && nBand < stamped.nRows
                               ? stamped.pixels.data() + nStride * size_t(nBand)
                               : frame.pixels.data() + nStride * size_t(frame.nHeight - 1 - r);
    }
    return true;
}

// Stamp, encode, save, queue and hand over one chosen frame. A change step
// still pending is summed along the encode and finished before the image is
// saved.
void ProcessFrame(CameraEntry& camera, int nCamera, FrameCycleContext& context,
                  const Chosen& chosen, bool fLive, ChangeStep* pending) {
    const CameraSettings& settings = camera.settings;
    if (!camera.capture.surface.Exists())
        return;
    QFont font;
    {
        std::lock_guard<std::mutex> guard(context.shared.mainLock);
        font = camera.stampFont;
    }
    const bool fPreview = camera.capture.fPreviewAtStart != 0;
    StampPlacement placement;
    if (!StampChosen(camera, chosen, font, fPreview || fLive, placement))
        return;
    if (fPreview)
        context.events.PreviewFrame(nCamera, camera.capture.surface, placement);

    JpegEncoder& encoder = camera.cycle.encoder;
    bool fEncoded = encoder.Encode(camera.cycle.rowTable.data(), chosen.frame->nWidth,
                                   chosen.frame->nHeight, settings.nQuality,
                                   pending != nullptr ? &pending->Difference() : nullptr) == 0;
    if (pending != nullptr)
        pending->Finish();
    uint64_t ftCapture = SystemTimeToFileTime(chosen.time);
    if (fEncoded && settings.fSave)
        SaveImage(camera, nCamera, context, chosen.time, encoder.Data(), encoder.Size());
    if (fEncoded && settings.fSend &&
        context.shared.nConnectionStatus.load() == CONNECTION_CONNECTED) {
        // The queue owns its images; the encoder's buffer is kept for the
        // next cycle, and the copy goes into a buffer of an image sent.
        std::vector<uint8_t> jpeg;
        {
            std::lock_guard<std::mutex> guard(context.shared.mainLock);
            jpeg = context.shared.TakeSpareBuffer();
        }
        jpeg.assign(encoder.Data(), encoder.Data() + encoder.Size());
        std::lock_guard<std::mutex> guard(context.shared.mainLock);
        context.shared.AppendImage(SendQueueEntry{nCamera, std::move(jpeg), ftCapture});
    }
    if (fLive)
        context.events.LiveFrame(nCamera, *chosen.frame, camera.capture.surface, ftCapture);
}

// Skipping unchanged images: the new frame becomes the reference, the
// previous reference the candidate, which is used only when the change
// state says so.
void RunChangeCycle(CameraEntry& camera, int nCamera, FrameCycleContext& context, uint32_t nNow) {
    FrameCycleState& cycle = camera.cycle;
    std::swap(cycle.reference, cycle.spare); // spare now holds the candidate
    SystemTime candidateTime = std::exchange(cycle.referenceTime, context.clock.LocalNow());
    bool fHadReference = std::exchange(cycle.fReference, true);
    CaptureFrame& candidate = cycle.spare;
    const CaptureFrame& fresh = cycle.reference;
    if (InPowerQuietTime(context.power, nNow) || !fHadReference ||
        candidate.nWidth != fresh.nWidth || candidate.nHeight != fresh.nHeight)
        return;
    ChangeStep step(camera, nCamera, context);
    const Chosen chosen{&candidate, candidateTime};
    bool fUse = false;
    if (CandidateUseKnown(cycle.nChangeState, fUse) && fUse &&
        camera.capture.fPreviewAtStart == 0 && !context.events.WantsLiveFrame(nCamera)) {
        // The comparison decides nothing about this candidate: it is summed
        // along the encode and finished before the image is saved.
        try {
            ProcessFrame(camera, nCamera, context, chosen, false, &step);
        } catch (...) {
            step.Finish();
            throw;
        }
        step.Finish();
        return;
    }
    step.Finish();
    if (cycle.nChangeState & CHANGE_USE_CANDIDATE)
        ProcessFrame(camera, nCamera, context, chosen, context.events.WantsLiveFrame(nCamera),
                     nullptr);
}

void RunDueCycle(CameraEntry& camera, int nCamera, FrameCycleContext& context, uint32_t nNow) {
    FrameCycleState& cycle = camera.cycle;
    if (!camera.capture.stream || camera.capture.stream->NewestFrame(cycle.spare) != 0 ||
        !IsWholeFrame(cycle.spare))
        return;
    if (camera.settings.fChange) {
        RunChangeCycle(camera, nCamera, context, nNow);
        return;
    }
    ProcessFrame(camera, nCamera, context, Chosen{&cycle.spare, context.clock.LocalNow()},
                 context.events.WantsLiveFrame(nCamera), nullptr);
}

} // namespace

bool BeginFrameCycle(CameraEntry& camera, uint32_t nNow) {
    if (!IsCycleDue(camera, nNow))
        return false;
    camera.cycle.nLastCycleTick = NonZeroTickOf(nNow);
    return true;
}

void RunBegunFrameCycle(CameraEntry& camera, int nCamera, FrameCycleContext& context,
                        uint32_t nNow) {
    // Lack of memory ends this cycle quietly, like every other failure of
    // the pipeline; the next cycle tries again.
    try {
        RunDueCycle(camera, nCamera, context, nNow);
    } catch (const std::bad_alloc&) {
    }
}

void RunFrameCycle(CameraEntry& camera, int nCamera, FrameCycleContext& context) {
    uint32_t nNow = context.clock.Tick();
    if (BeginFrameCycle(camera, nNow))
        RunBegunFrameCycle(camera, nCamera, context, nNow);
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
