// The image pipeline on one 1920x1080 frame, each pair measured in the same
// run:
//  - the whole frame cycle (difference, stamp, encode, save into a temporary
//    folder, queue; one file per image, as in use) against libjpeg-turbo's
//    own encode of the same composed frame at the same quality, at
//    qualities 25 and 90 (target: at most 1.10 times the encode alone). The
//    frame is handed to the cycle as a camera backend delivers it; the same
//    cycle with the scripted grabber's 6 MB copy inside the timed part is
//    shown for reference. Both sides start from a frame that no cache holds
//    (see BM_EncodeAlone);
//  - the difference level of two frames against a plain read of the same
//    12.4 MB with the same vector width (target: at most 1.3 times the
//    read).
// The ratios are printed after the table. Suggested run:
//   bench_capture --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true
// The frames are the test camera's textured picture (gradients, fine
// texture, edges, as a real scene has, and sensor noise that changes from
// frame to frame), two noise draws, so that consecutive frames differ as a
// real camera's do and encode to what a real camera's give.
#include "imagestore/image_path.h"
#include "server/capture/camera_control.h"
#include "server/capture/difference.h"
#include "server/capture/frame_cycle.h"
#include "server/capture/test_camera.h"
#include "support/scripted_backend.h"

#include <QGuiApplication>

#include <benchmark/benchmark.h>

#include <jpeglib.h>

#include <immintrin.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include <unistd.h>

namespace brindle {
namespace {

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;
constexpr char kPath[] = "/dev/bench";

CaptureFrame NoisyFrame(unsigned nSeed) {
    ManualClock clock;
    clock.SetTick(40 * nSeed);
    TestCameraScene scene(clock);
    scene.SetControl(TEST_CONTROL_PATTERN, TEST_PATTERN_TEXTURE);
    scene.Freeze(true);
    CaptureFrame frame;
    scene.Render(kWidth, kHeight, frame);
    return frame;
}

const CaptureFrame& Frame(int n) {
    static const CaptureFrame frames[2] = {NoisyFrame(1), NoisyFrame(2)};
    return frames[n];
}

class CountingEvents : public NoFrameCycleEvents {
  public:
    void ImageSaved(int) override { ++nSaved; }
    int64_t nSaved = 0;
};

// A camera that hands its frames over without a copy: the frame the bench
// puts into `next` is swapped into the cycle's buffer. The fetch from a
// real camera (a conversion by libv4lconvert) is the backend's work, not
// the frame cycle's, so the benchmark prepares each frame outside the
// timed part.
class HandOverBackend : public CaptureBackend {
  public:
    CaptureFrame next;

    uint32_t Enumerate(std::vector<CaptureDeviceInfo>&) override { return 0; }
    bool Handles(const std::string& path) const override { return path == kPath; }
    uint32_t Start(const std::string&, const CaptureFormat&, bool,
                   std::unique_ptr<CaptureStream>& stream, std::string&) override {
        stream = std::make_unique<Stream>(next);
        return 0;
    }
    uint32_t ListControls(const std::string&, std::vector<CaptureControl>&) override { return 0; }
    uint32_t SetControl(const std::string&, uint32_t, int32_t) override { return 0; }

  private:
    class Stream : public CaptureStream {
      public:
        explicit Stream(CaptureFrame& next) : next_(next) {}
        uint32_t NewestFrame(CaptureFrame& frame) override {
            std::swap(frame, next_);
            return 0;
        }
        uint32_t Stop() override { return 0; }

      private:
        CaptureFrame& next_;
    };
};

// A camera running the frame cycle with change detection on and a scene
// whose difference level jumps at every cycle (two frames of one noise
// draw, two of the other), so that every cycle does the whole work:
// difference, stamp, encode, save, queue. With fGrabberCopy the frames
// come from the scripted backend, which copies them as a sample grabber
// does; otherwise from HandOverBackend.
class CycleRig {
  public:
    CycleRig(int nQuality, bool fGrabberCopy) : fGrabberCopy_(fGrabberCopy) {
        CaptureDeviceInfo device;
        device.friendlyName = "Bench";
        device.devicePath = kPath;
        device.formats = {{kWidth, kHeight, 333333}};
        scripted_.devices = {device};
        CameraSettings& s = camera_.settings;
        s.cName = s.cName2 = "Bench";
        s.cPath = kPath;
        s.nConnect = 1;
        s.fUse = s.fSend = s.fSave = s.fChange = 1;
        s.nSensitivity = 9;
        s.nCycle = 1;
        s.nTime = 4;
        s.nQuality = nQuality;
        s.formats = device.formats;
        LogCaptureReporter reporter;
        if (fGrabberCopy)
            StartCamera(camera_, scripted_, reporter);
        else
            StartCamera(camera_, handOver_, reporter);
        shared_.SetCameras({"Bench"});
        shared_.nConnectionStatus = CONNECTION_CONNECTED;
        frames_[0] = Frame(0);
        frames_[1] = Frame(1);
    }

    ~CycleRig() {
        LogCaptureReporter reporter;
        StopCamera(camera_, reporter);
    }

    // Puts the next frame where the camera delivers it from, and takes the
    // queued image away as the client's connection does, whose buffer then
    // serves the next image.
    void Prepare() {
        {
            std::lock_guard<std::mutex> guard(shared_.mainLock);
            SendQueueEntry sent;
            while (shared_.queue.TakeHead(sent))
                shared_.RecycleBuffer(std::move(sent.jpeg));
        }
        // Files a few cycles old go, so that the folder stays small; the
        // cycle itself only ever writes new ones.
        if (n_ >= 4) {
            std::string path;
            if (ImageFilePath(tree_, ImageKeyFromTime(TimeOf(n_ - 4)), path) == 0)
                ::unlink(path.c_str());
        }
        const CaptureFrame& source = Frame((n_ / 2) % 2);
        if (fGrabberCopy_) {
            std::swap(scripted_.ScriptOf(kPath).frame, frames_[(n_ / 2) % 2]);
            fSwapped_ = true;
        } else {
            handOver_.next.nWidth = source.nWidth;
            handOver_.next.nHeight = source.nHeight;
            handOver_.next.pixels.resize(source.pixels.size());
            std::copy(source.pixels.begin(), source.pixels.end(), handOver_.next.pixels.begin());
        }
    }

    void Cycle() {
        clock_.Advance(1000);
        clock_.SetLocalNow(TimeOf(n_));
        RunFrameCycle(camera_, 0, context_);
        if (fSwapped_)
            std::swap(scripted_.ScriptOf(kPath).frame, frames_[(n_ / 2) % 2]);
        fSwapped_ = false;
        NextImage() = ++n_;
    }

    int64_t Saved() const { return events_.nSaved; }

    static void RemoveFolder() {
        std::error_code error;
        std::filesystem::remove_all(Folder(), error);
    }

  private:
    // One cycle a second of the clock, numbered through the whole run: every
    // image gets a name of its own, as in use (a rig starting again at 0
    // would replace the files of the rig before it inside the timed part).
    static SystemTime TimeOf(int64_t n) {
        return SystemTime{.wYear = 2025,
                          .wMonth = 3,
                          .wDay = uint16_t(4 + n / 86400),
                          .wHour = uint16_t(n / 3600 % 24),
                          .wMinute = uint16_t(n / 60 % 60),
                          .wSecond = uint16_t(n % 60)};
    }

    static int64_t& NextImage() {
        static int64_t nNext = 0;
        return nNext;
    }

    // BRINDLE_BENCH_DIR when set, else /dev/shm when writable, else the
    // temporary folder: the pipeline is measured, not the disk's allocator.
    static std::string Folder() {
        static const std::string folder = [] {
            std::filesystem::path base = std::filesystem::temp_directory_path();
            if (const char* pcDir = std::getenv("BRINDLE_BENCH_DIR"))
                base = pcDir;
            else if (::access("/dev/shm", W_OK) == 0)
                base = "/dev/shm";
            std::string pattern = (base / "bench-capture-XXXXXX").string();
            const char* pcMade = ::mkdtemp(pattern.data());
            return std::string(pcMade != nullptr ? pcMade : base.c_str());
        }();
        return folder;
    }

    bool fGrabberCopy_;
    bool fSwapped_ = false;
    ManualClock clock_;
    ScriptedBackend scripted_;
    HandOverBackend handOver_;
    CameraEntry camera_;
    ServerShared shared_{16};
    PowerState power_;
    CountingEvents events_;
    FrameCycleContext context_{clock_, shared_, Folder(), power_, events_};
    CaptureFrame frames_[2];
    ImageTree tree_{Folder(), std::string(), "Bench"};
    int64_t n_ = NextImage();
};

void RunCycles(benchmark::State& state, bool fGrabberCopy) {
    CycleRig rig(int(state.range(0)), fGrabberCopy);
    for (int i = 0; i < 4; ++i) {
        rig.Prepare();
        rig.Cycle(); // past the first cycles, which use nothing
    }
    int64_t nBefore = rig.Saved();
    for (auto _ : state) {
        state.PauseTiming();
        rig.Prepare();
        state.ResumeTiming();
        rig.Cycle();
    }
    state.counters["saved_per_cycle"] = double(rig.Saved() - nBefore) / double(state.iterations());
}

void BM_FrameCycle(benchmark::State& state) {
    RunCycles(state, false);
}

// The same with the scripted grabber's copy of each 6 MB frame inside the
// timed part, for reference.
void BM_FrameCycleGrabberCopy(benchmark::State& state) {
    RunCycles(state, true);
}

// Drops a buffer from every cache level (clean lines only go, nothing is
// written back).
void EvictFromCaches(const uint8_t* data, size_t nSize) {
    for (size_t i = 0; i < nSize; i += 64)
        _mm_clflush(data + i);
    _mm_mfence();
}

// libjpeg-turbo alone on the composed frame (the frame with the stamp the
// cycle puts on it), into a buffer large enough. The second argument is the
// layout: 0 hands the library the composed picture's top-down rows (the
// target's base), 1 the same picture laid out bottom-up as a camera frame
// is, rows handed over top row first (walking down through memory) as the
// cycle's encoder must; the pair shows what the layout alone costs.
//
// The frame is dropped from the caches before each encode, outside the
// timed part. With change detection on, the frame the cycle encodes is the
// one captured a cycle (at least a second) earlier, which no cache holds
// any more; an encode of the same frame in the program would start from
// memory as well. Encoding the same 6 MB over and over from the cache
// measured an encoder that never meets its input there. Only the frame is
// dropped: the library's tables and code stay warm, which favours this
// side.
void BM_EncodeAlone(benchmark::State& state) {
    const int nQuality = int(state.range(0));
    const bool fBottomUp = state.range(1) != 0;
    CompositionSurface surface;
    StampPlacement placement;
    surface.Compose(Frame(0), 4, DefaultStampFont(), "2025-03-04 05:00:00.000", placement);
    const size_t nStride = surface.Stride();
    const size_t nFrameBytes = nStride * size_t(surface.Height());
    std::vector<uint8_t> bottomUp;
    const uint8_t* pixels = surface.Bits();
    if (fBottomUp) {
        bottomUp.resize(nFrameBytes);
        for (int32_t y = 0; y < surface.Height(); ++y)
            std::copy_n(surface.Bits() + nStride * size_t(y), nStride,
                        bottomUp.data() + nStride * size_t(surface.Height() - 1 - y));
        pixels = bottomUp.data();
    }
    std::vector<unsigned char> output(nFrameBytes);
    std::vector<JSAMPROW> rows(size_t(surface.Height()));
    for (int32_t y = 0; y < surface.Height(); ++y) {
        size_t nRow = fBottomUp ? size_t(surface.Height() - 1 - y) : size_t(y);
        rows[size_t(y)] = const_cast<JSAMPROW>(pixels + nStride * nRow);
    }
    for (auto _ : state) {
        state.PauseTiming();
        EvictFromCaches(pixels, nFrameBytes);
        state.ResumeTiming();
        jpeg_compress_struct cinfo;
        jpeg_error_mgr err;
        cinfo.err = jpeg_std_error(&err);
        jpeg_create_compress(&cinfo);
        unsigned char* pOut = output.data();
        unsigned long nOut = output.size();
        jpeg_mem_dest(&cinfo, &pOut, &nOut);
        cinfo.image_width = JDIMENSION(surface.Width());
        cinfo.image_height = JDIMENSION(surface.Height());
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_EXT_BGR;
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, nQuality, TRUE);
        jpeg_start_compress(&cinfo, TRUE);
        jpeg_write_scanlines(&cinfo, rows.data(), JDIMENSION(surface.Height()));
        jpeg_finish_compress(&cinfo);
        benchmark::DoNotOptimize(nOut);
        if (pOut != output.data())
            std::free(pOut);
        jpeg_destroy_compress(&cinfo);
    }
}

void BM_DifferenceLevel(benchmark::State& state) {
    const CaptureFrame& a = Frame(0);
    const CaptureFrame& b = Frame(1);
    for (auto _ : state) {
        uint64_t nSum = FrameDifferenceSum(a.pixels.data(), b.pixels.data(), kWidth, kHeight);
        benchmark::DoNotOptimize(DifferenceLevel(nSum, kWidth, kHeight));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(2 * a.pixels.size()));
}

// Every byte of both frames read once and folded with one add, with the
// widest loads the processor has (those the difference level uses): as
// fast as the bytes can be had.
__attribute__((target("avx2"))) uint64_t ReadAvx2(const uint8_t* a, const uint8_t* b, size_t n) {
    __m256i acc0 = _mm256_setzero_si256(), acc1 = _mm256_setzero_si256();
    for (size_t i = 0; i + 32 <= n; i += 32) {
        acc0 = _mm256_add_epi64(acc0, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i)));
        acc1 = _mm256_add_epi64(acc1, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i)));
    }
    __m256i acc = _mm256_add_epi64(acc0, acc1);
    return uint64_t(_mm256_extract_epi64(acc, 0) + _mm256_extract_epi64(acc, 3));
}

uint64_t ReadSse2(const uint8_t* a, const uint8_t* b, size_t n) {
    __m128i acc0 = _mm_setzero_si128(), acc1 = _mm_setzero_si128();
    for (size_t i = 0; i + 16 <= n; i += 16) {
        acc0 = _mm_add_epi64(acc0, _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i)));
        acc1 = _mm_add_epi64(acc1, _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i)));
    }
    return uint64_t(_mm_cvtsi128_si64(_mm_add_epi64(acc0, acc1)));
}

void BM_PlainRead(benchmark::State& state) {
    const CaptureFrame& a = Frame(0);
    const CaptureFrame& b = Frame(1);
    const bool fAvx2 = DetectSimdLevel() == SimdLevel::Avx2;
    for (auto _ : state) {
        uint64_t nSum = fAvx2 ? ReadAvx2(a.pixels.data(), b.pixels.data(), a.pixels.size())
                              : ReadSse2(a.pixels.data(), b.pixels.data(), a.pixels.size());
        benchmark::DoNotOptimize(nSum);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(2 * a.pixels.size()));
}

BENCHMARK(BM_FrameCycle)->Arg(25)->Arg(90)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameCycleGrabberCopy)->Arg(25)->Arg(90)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeAlone)
    ->Args({25, 0})
    ->Args({90, 0})
    ->Args({25, 1})
    ->Args({90, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DifferenceLevel)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainRead)->Unit(benchmark::kMicrosecond);

// Prints the ratios of the pairs after the usual table, from the medians
// when repetitions are asked for, else from the single runs. The ratios use
// the thread's CPU time (system time of the file writes included), which a
// machine shared with other work disturbs less than the wall clock.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            std::string name = run.benchmark_name();
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median")
                continue;
            if (run.run_type == Run::RT_Aggregate)
                name = name.substr(0, name.rfind('_'));
            if (run.run_type == Run::RT_Iteration && times_.count(name) && repeated_)
                continue;
            times_[name] = run.GetAdjustedCPUTime();
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        Ratio("BM_FrameCycle/25", "BM_EncodeAlone/25/0", 1.10);
        Ratio("BM_FrameCycle/90", "BM_EncodeAlone/90/0", 1.10);
        Ratio("BM_FrameCycle/25", "BM_EncodeAlone/25/1", 0);
        Ratio("BM_FrameCycle/90", "BM_EncodeAlone/90/1", 0);
        Ratio("BM_EncodeAlone/25/1", "BM_EncodeAlone/25/0", 0);
        Ratio("BM_EncodeAlone/90/1", "BM_EncodeAlone/90/0", 0);
        Ratio("BM_FrameCycleGrabberCopy/25", "BM_EncodeAlone/25/0", 0);
        Ratio("BM_FrameCycleGrabberCopy/90", "BM_EncodeAlone/90/0", 0);
        Ratio("BM_DifferenceLevel", "BM_PlainRead", 1.3);
    }
    bool repeated_ = false;

  private:
    void Ratio(const std::string& subject, const std::string& base, double fTarget) {
        if (!times_.count(subject) || !times_.count(base))
            return;
        double ratio = times_[subject] / times_[base];
        if (fTarget <= 0) {
            std::printf("%-27s / %-19s = %.3f (for reference)\n", subject.c_str(), base.c_str(),
                        ratio);
            return;
        }
        std::printf("%-27s / %-19s = %.3f (target <= %.2f) %s\n", subject.c_str(), base.c_str(),
                    ratio, fTarget, ratio <= fTarget ? "met" : "NOT MET");
    }
    std::map<std::string, double> times_;
};

} // namespace
} // namespace brindle

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    int nQtArgc = 1;
    QGuiApplication app(nQtArgc, argv);
    benchmark::Initialize(&argc, argv);
    brindle::RatioReporter reporter;
    for (int i = 1; i < argc; ++i)
        reporter.repeated_ |= std::string(argv[i]).rfind("--benchmark_repetitions", 0) == 0;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    brindle::CycleRig::RemoveFolder();
    return 0;
}
