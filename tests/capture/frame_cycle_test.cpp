#include "common/error_codes.h"
#include "imagestore/image_path.h"
#include "server/capture/camera_control.h"
#include "server/capture/frame_cycle.h"
#include "server/capture/viewer_handover.h"
#include "support/scripted_backend.h"

#include "capture_test_util.h"

#include <gtest/gtest.h>

#include <set>

namespace brindle {
namespace {

class RecordingEvents : public FrameCycleEvents {
  public:
    void ChangeDetected(int) override { ++nDetected; }
    void ImageSaved(int) override { ++nSaved; }
    bool WantsLiveFrame(int) override { return fLive; }
    void LiveFrame(int nCamera, const CaptureFrame& raw, const CompositionSurface& composed,
                   uint64_t ftCapture) override {
        ++nLive;
        nLiveCamera = nCamera;
        nLiveWidth = raw.nWidth;
        nComposedHeight = composed.Height();
        ftLive = ftCapture;
    }
    void PreviewFrame(int, const CompositionSurface&, const StampPlacement& at) override {
        ++nPreview;
        lastPlacement = at;
    }

    bool fLive = false;
    int nDetected = 0, nSaved = 0, nLive = 0, nPreview = 0;
    int nLiveCamera = -1, nLiveWidth = 0, nComposedHeight = 0;
    uint64_t ftLive = 0;
    StampPlacement lastPlacement;
};

constexpr uint32_t X = 0x000000, A = 0x808080, B = 0xFFFFFF, Y = 0x404040;

class FrameCycleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CaptureDeviceInfo device;
        device.friendlyName = "Cam";
        device.devicePath = "/dev/c";
        backend_.devices = {device};
        CameraSettings& s = camera_.settings;
        s.cName = s.cName2 = "Cam";
        s.cPath = "/dev/c";
        s.nConnect = 1;
        s.fUse = s.fSend = s.fSave = s.fChange = 1;
        s.nCycle = 1;
        s.nQuality = 50;
        s.formats = {{64, 48, 333333}};
        shared_.SetCameras({"Cam"});
        shared_.nConnectionStatus = CONNECTION_CONNECTED;
        clock_.SetTick(100000);
    }

    void Start() {
        LogCaptureReporter reporter;
        ASSERT_EQ(StartCamera(camera_, backend_, reporter), 1);
        camera_.cycle.nLastCycleTick = clock_.Tick();
    }

    // One due cycle with a frame of one colour; the capture time's seconds
    // count the cycles. Returns whether an image was queued.
    bool Cycle(uint32_t nColour, int32_t nWidth = 64, int32_t nHeight = 48) {
        return CycleWith(MakeFrame(nWidth, nHeight, [=](int32_t, int32_t) { return nColour; }));
    }

    bool CycleWith(CaptureFrame frame) {
        backend_.SetFrame("/dev/c", std::move(frame));
        ++nCycle_;
        clock_.Advance(1000);
        clock_.SetLocalNow(SystemTime{.wYear = 2024,
                                      .wMonth = 6,
                                      .wDay = 10,
                                      .wHour = 10,
                                      .wMinute = uint16_t(nCycle_ / 60),
                                      .wSecond = uint16_t(nCycle_ % 60)});
        uint32_t nBefore = Queued();
        RunFrameCycle(camera_, 0, context_);
        return Queued() > nBefore;
    }

    uint32_t Queued() {
        std::lock_guard<std::mutex> guard(shared_.mainLock);
        return shared_.queue.Count();
    }

    // Cycle numbers of the queued images, from their capture times.
    std::vector<int> QueuedCycles() {
        std::vector<int> cycles;
        std::lock_guard<std::mutex> guard(shared_.mainLock);
        SendQueueEntry entry;
        while (shared_.queue.TakeHead(entry)) {
            SystemTime time = FileTimeToSystemTime(entry.ftCapture);
            cycles.push_back(time.wMinute * 60 + time.wSecond);
        }
        return cycles;
    }

    size_t SavedFiles() {
        size_t n = 0;
        std::error_code error;
        for (auto it = std::filesystem::recursive_directory_iterator(dir_.Path(), error);
             it != std::filesystem::recursive_directory_iterator(); ++it)
            n += it->path().extension() == ".jpg";
        return n;
    }

    test::TempDir dir_;
    ManualClock clock_;
    PowerState power_;
    RecordingEvents events_;
    ServerShared shared_;
    FrameCycleContext context_{clock_, shared_, dir_.Path(), power_, events_};
    ScriptedBackend backend_;
    CameraEntry camera_;
    int nCycle_ = 0;
};

// After a quiet spell, a scene that changes once and then stays still
// sends exactly the first two frames of the new scene.
TEST_F(FrameCycleTest, SceneChangingOnceAfterAQuietSpellSendsItsFirstTwoFrames) {
    Start();
    std::vector<uint32_t> scenes{X, X};
    scenes.insert(scenes.end(), 10, A); // cycles 3-12: change, then quiet
    scenes.insert(scenes.end(), 6, B);  // cycles 13-18
    for (uint32_t nColour : scenes)
        Cycle(nColour);
    std::vector<int> cycles = QueuedCycles();
    std::vector<int> afterQuiet;
    for (int n : cycles) {
        if (n >= 12) // from the last frame before the change on
            afterQuiet.push_back(n);
    }
    EXPECT_EQ(afterQuiet, (std::vector<int>{13, 14}));
    // The change into A is the first ever: its candidate (the last X) goes too.
    EXPECT_EQ(cycles, (std::vector<int>{2, 3, 4, 13, 14}));
    EXPECT_EQ(SavedFiles(), cycles.size());
    EXPECT_EQ(events_.nSaved, int(cycles.size()));
    EXPECT_GT(events_.nDetected, 0);
}

TEST_F(FrameCycleTest, SensitivityZeroNeverSendsOrSaves) {
    camera_.settings.nSensitivity = 0;
    Start();
    for (uint32_t nColour : {X, A, B, X, B, A, A, A, B})
        EXPECT_FALSE(Cycle(nColour));
    EXPECT_EQ(SavedFiles(), 0u);
    EXPECT_EQ(events_.nDetected, 0);
}

// A scene whose difference level jumps at every cycle (two frames of one
// colour, two of another) has every candidate used, except in the first
// cycle after start, in the cycle that meets a new frame size, while
// suspending and for 30 s after resuming.
TEST_F(FrameCycleTest, NothingIsUsedAfterStartNewSizeSuspendAndResume) {
    Start();
    EXPECT_FALSE(Cycle(X)); // first after start
    EXPECT_FALSE(Cycle(X)); // no change seen yet
    EXPECT_TRUE(Cycle(Y));
    EXPECT_TRUE(Cycle(Y));
    EXPECT_TRUE(Cycle(X));
    EXPECT_FALSE(Cycle(X, 32, 24)); // new size
    EXPECT_TRUE(Cycle(X, 32, 24));
    EXPECT_TRUE(Cycle(Y, 32, 24));
    EXPECT_TRUE(Cycle(Y, 32, 24));
    power_.fSuspending = true;
    EXPECT_FALSE(Cycle(X, 32, 24));
    power_.fSuspending = false;
    power_.nResumeTick = clock_.Tick();
    for (int i = 0; i < 30; ++i)
        EXPECT_FALSE(Cycle((i / 2) % 2 ? Y : X, 32, 24)) << i;
    EXPECT_TRUE(Cycle(Y, 32, 24));
    EXPECT_EQ(SavedFiles(), 7u);
}

// With a viewer watching, the difference is summed before the frame is
// composed; otherwise along the encode, band by band, with the stamp drawn
// on copies of its rows. Both give the same images, byte for byte, and the
// same change history.
TEST_F(FrameCycleTest, SummingAlongTheEncodeGivesTheSameImagesAndHistory) {
    camera_.settings.fSave = 0;
    camera_.settings.nTime = 4;
    Start();
    auto Scene = [](uint32_t nSeed) {
        return MakeFrame(200, 100, [=](int32_t x, int32_t y) {
            return uint32_t(x * 0x030201 + y * 0x0105 + nSeed * 0x402010) & 0xFFFFFFu;
        });
    };
    struct Outcome {
        std::vector<std::vector<uint8_t>> jpegs;
        std::vector<int32_t> levels;
        int nDetected = 0;
    };
    auto Run = [&](bool fLive) {
        camera_.cycle = FrameCycleState{};
        camera_.cycle.nLastCycleTick = clock_.Tick();
        events_ = RecordingEvents{};
        events_.fLive = fLive;
        nCycle_ = 0;
        for (uint32_t nSeed : {0u, 0u, 1u, 1u, 0u, 0u, 1u, 1u, 2u, 2u, 2u, 3u, 3u, 3u})
            CycleWith(Scene(nSeed));
        Outcome outcome;
        std::lock_guard<std::mutex> guard(shared_.mainLock);
        SendQueueEntry entry;
        while (shared_.queue.TakeHead(entry))
            outcome.jpegs.push_back(entry.jpeg);
        const DifferenceHistory& history = camera_.cycle.history;
        outcome.levels.assign(history.anLevel, history.anLevel + history.nCount);
        outcome.nDetected = events_.nDetected;
        return outcome;
    };
    Outcome watched = Run(true);
    Outcome alone = Run(false);
    ASSERT_GE(watched.jpegs.size(), 6u);
    EXPECT_TRUE(watched.jpegs == alone.jpegs);
    EXPECT_EQ(watched.levels, alone.levels);
    EXPECT_EQ(watched.nDetected, alone.nDetected);
}

// Cycle 1 on the 50 ms timer runs every 1,000 ms, cycle 60 every 60 s (not
// 60.05 s), also across the wrap of the 32-bit tick.
TEST_F(FrameCycleTest, CyclesRunOnTimeOnFiftyMillisecondTicks) {
    camera_.settings.fChange = 0;
    camera_.settings.fSave = 0;
    backend_.SetFrame("/dev/c", MakeFrame(8, 8, [](int32_t, int32_t) { return A; }));
    for (int nSeconds : {1, 60}) {
        camera_.settings.nCycle = nSeconds;
        clock_.SetTick(0xFFFFFFFFu - 3 * 1000 * uint32_t(nSeconds));
        Start();
        std::vector<uint32_t> runs;
        int nBefore = backend_.ScriptOf("/dev/c").nFrames;
        for (int nTick = 0; nTick < 5 * 20 * nSeconds + 1; ++nTick) {
            clock_.Advance(50);
            RunFrameCycle(camera_, 0, context_);
            int nFrames = backend_.ScriptOf("/dev/c").nFrames;
            if (nFrames != nBefore)
                runs.push_back(clock_.Tick());
            nBefore = nFrames;
        }
        ASSERT_EQ(runs.size(), 5u) << nSeconds;
        for (size_t i = 1; i < runs.size(); ++i)
            EXPECT_EQ(runs[i] - runs[i - 1], 1000u * nSeconds) << nSeconds;
        LogCaptureReporter reporter;
        StopCamera(camera_, reporter);
    }
}

TEST_F(FrameCycleTest, DoesNothingUnlessUsedAndRunning) {
    camera_.settings.fChange = 0;
    EXPECT_FALSE(Cycle(A)); // not started
    Start();
    camera_.settings.fUse = 0;
    EXPECT_FALSE(Cycle(A));
    camera_.settings.fUse = 1;
    backend_.ScriptOf("/dev/c").nFrameError = 31;
    EXPECT_FALSE(Cycle(A)); // the grabber fails: quietly, try again next time
    backend_.ScriptOf("/dev/c").nFrameError = 0;
    EXPECT_TRUE(Cycle(A));
}

// Without change detection every frame is saved as a decodable JPEG in the
// dated folder; it is queued only while a client is logged in.
TEST_F(FrameCycleTest, SavesEveryFrameAndQueuesOnlyWhileLoggedIn) {
    camera_.settings.fChange = 0;
    camera_.settings.nTime = 4;
    Start();
    shared_.nConnectionStatus = CONNECTION_IDLE;
    EXPECT_FALSE(Cycle(A));
    shared_.nConnectionStatus = CONNECTION_CONNECTED;
    EXPECT_TRUE(Cycle(B));
    EXPECT_EQ(events_.nSaved, 2);
    EXPECT_EQ(SavedFiles(), 2u);
    DecodedImage image;
    std::string path = dir_.File("Cam/20240610/100002-000.jpg");
    ASSERT_EQ(DecodeJpegFile(path, image), 0u);
    EXPECT_EQ(image.nWidth, 64);
    EXPECT_EQ(image.nHeight, 48);
    // The stamp's band sits at the bottom right: the corner pixel is no
    // longer the frame's colour.
    const uint8_t* corner = &image.pixels[47 * image.nStride + 63 * 3];
    EXPECT_LT(corner[0], 0x60);
}

// The file is written before any folder is made; folders that went away
// meanwhile (a new day, or removed by hand) are made again.
TEST_F(FrameCycleTest, SavesAgainAfterItsFoldersWereRemoved) {
    camera_.settings.fChange = 0;
    Start();
    Cycle(A);
    ASSERT_EQ(SavedFiles(), 1u);
    std::filesystem::remove_all(dir_.File("Cam"));
    Cycle(B);
    EXPECT_EQ(SavedFiles(), 1u);
    EXPECT_TRUE(std::filesystem::exists(dir_.File("Cam/20240610/100002-000.jpg")));
    EXPECT_EQ(events_.nSaved, 2);
}

TEST_F(FrameCycleTest, HandsFramesToTheLiveViewerAndThePreview) {
    camera_.settings.fChange = 0;
    camera_.settings.fSave = 0;
    camera_.settings.fSend = 0;
    camera_.settings.fPreview = 1;
    camera_.settings.nTime = 1;
    Start();
    Cycle(A);
    EXPECT_EQ(events_.nLive, 0);
    events_.fLive = true;
    Cycle(B);
    EXPECT_EQ(events_.nLive, 1);
    EXPECT_EQ(events_.nLiveCamera, 0);
    EXPECT_EQ(events_.nLiveWidth, 64);
    EXPECT_EQ(events_.nComposedHeight, 48);
    EXPECT_EQ(FileTimeToSystemTime(events_.ftLive).wSecond, 2);
    EXPECT_EQ(events_.nPreview, 2);
    EXPECT_GT(events_.lastPlacement.cx, 0);
}

// A preview shows a camera that runs but is not in use; nothing is saved or
// sent then.
TEST_F(FrameCycleTest, PreviewComposesACameraThatIsNotInUse) {
    camera_.settings.fUse = 0;
    camera_.settings.fPreview = 1;
    camera_.settings.nTime = 1;
    StampPlacement at;
    EXPECT_EQ(ComposePreview(camera_, clock_, shared_.mainLock, at),
              ERROR_INVALID_PARAMETER_CODE); // not started
    Start();
    backend_.SetFrame("/dev/c", MakeFrame(64, 48, [](int32_t, int32_t) { return A; }));
    ASSERT_EQ(ComposePreview(camera_, clock_, shared_.mainLock, at), 0u);
    EXPECT_GT(at.cx, 0);
    EXPECT_EQ(camera_.capture.surface.Width(), 64);
    EXPECT_FALSE(Cycle(B));
    EXPECT_EQ(SavedFiles(), 0u);
}

TEST(ViewerHandOver, BitmapGrowsToTheLargerSizePerDirection) {
    struct Case {
        ViewerBitmapSize before;
        int32_t nWidth, nHeight;
        bool fRemake;
        ViewerBitmapSize after;
    } cases[] = {
        {{0, 0}, 640, 480, true, {640, 480}},       {{640, 480}, 640, 480, false, {640, 480}},
        {{640, 480}, 320, 240, false, {640, 480}},  {{640, 480}, 320, 720, true, {640, 720}},
        {{1280, 200}, 640, 480, true, {1280, 480}},
    };
    for (const Case& c : cases) {
        ViewerBitmapSize size = c.before;
        EXPECT_EQ(GrowViewerBitmap(size, c.nWidth, c.nHeight), c.fRemake);
        EXPECT_EQ(size.nWidth, c.after.nWidth);
        EXPECT_EQ(size.nHeight, c.after.nHeight);
    }
}

TEST(ViewerHandOver, PixelsAreCopiedTopDown) {
    CaptureFrame frame = MakeFrame(3, 2, [](int32_t x, int32_t y) { return uint32_t(y * 16 + x); });
    std::vector<uint8_t> pixels{9};
    ASSERT_TRUE(CopyFrameTopDown(frame, pixels));
    ASSERT_EQ(pixels.size(), 24u); // stride 12
    EXPECT_EQ(pixels[0], 0);
    EXPECT_EQ(pixels[6], 2);
    EXPECT_EQ(pixels[12], 16);
    frame.pixels.resize(10);
    EXPECT_FALSE(CopyFrameTopDown(frame, pixels));
    EXPECT_EQ(pixels.size(), 24u);
}

} // namespace
} // namespace brindle
