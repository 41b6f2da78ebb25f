// The image viewer showing stored 1080p images, each pair measured in the
// same run:
//  - one timer step of playback at the fastest speed (2,592,000 s a
//    second, over images 6 hours apart, so that every step shows the next
//    image): read, full-size decode, brightness, scale and draw into the
//    picture of a 1280 x 720 viewer, at qualities 25 and 90 and brightness
//    100 and 150, against libjpeg-turbo's own decode of the same files to
//    BGR (target: at most 1.5 times the decode alone);
//  - playback of an archive of one image a second on a clock that runs in
//    real time with the 10 ms timer, at the speed rows around the limit:
//    the fastest row that shows every image without skipping one.
// The ratios and the fastest row are printed after the table. Suggested run:
//   bench_viewer --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true
// The pictures are street-like scenes (sky gradient, buildings with
// windows, a road, a time stamp) with sensor-like noise, each one
// different, as a camera's stored images are.
#include "image/jpeg_codec.h"
#include "imagestore/image_list.h"
#include "imagestore/image_path.h"
#include "imagestore/viewer/speed_table.h"
#include "imagestore/viewer/viewer_window.h"

#include <QApplication>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <jpeglib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <thread>

#include <unistd.h>

namespace brindle {
namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
// Images in the archive of each quality: the timed steps go round them.
constexpr int kImages = 24;
// The fastest speed row and the spacing that makes each 10 ms step of it
// (25,920 s of recording) reach exactly the next image.
constexpr int kFastestRow = SPEED_COUNT - 1;
constexpr uint64_t kFastGapSeconds = 6 * 3600;

// BRINDLE_BENCH_DIR when set, else /dev/shm when writable, else the
// temporary folder: the viewer is measured, not the disk.
const std::string& Folder() {
    static const std::string folder = [] {
        std::filesystem::path base = std::filesystem::temp_directory_path();
        if (const char* pcDir = std::getenv("BRINDLE_BENCH_DIR"))
            base = pcDir;
        else if (::access("/dev/shm", W_OK) == 0)
            base = "/dev/shm";
        std::string pattern = (base / "bench-viewer-XXXXXX").string();
        const char* pcMade = ::mkdtemp(pattern.data());
        return std::string(pcMade != nullptr ? pcMade : base.c_str());
    }();
    return folder;
}

// A street-like scene that differs from picture to picture: the light,
// the buildings and the cars move with `n`, and the noise is drawn anew.
QImage Scene(int n) {
    QImage image(kWidth, kHeight, QImage::Format_RGB888);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, kHeight * 0.6);
    sky.setColorAt(0, QColor::fromHsv(210, 120, 230 - n % 40));
    sky.setColorAt(1, QColor::fromHsv(200, 40, 250 - n % 30));
    p.fillRect(0, 0, kWidth, kHeight, sky);
    std::mt19937 random(unsigned(n) * 7919u + 17u);
    std::uniform_int_distribution<int> u(0, 1 << 20);
    for (int b = 0; b < 14; ++b) {
        const int w = 80 + u(random) % 140, h = 200 + u(random) % 400;
        const int x = (b * 150 + n * 7) % kWidth, y = int(kHeight * 0.62) - h;
        p.fillRect(x, y, w, h,
                   QColor::fromHsv(u(random) % 360, 30 + u(random) % 60, 90 + u(random) % 120));
        for (int wy = y + 12; wy < y + h - 20; wy += 28)
            for (int wx = x + 10; wx < x + w - 16; wx += 24)
                p.fillRect(wx, wy, 12, 16,
                           (u(random) % 3) ? QColor(40, 50, 70) : QColor(250, 230, 150));
    }
    QLinearGradient road(0, kHeight * 0.62, 0, kHeight);
    road.setColorAt(0, QColor(90, 90, 95));
    road.setColorAt(1, QColor(50, 50, 55));
    p.fillRect(0, int(kHeight * 0.62), kWidth, kHeight, road);
    for (int c = 0; c < 6; ++c) {
        const int x = (c * 330 + n * 45 * (c % 2 ? 1 : -1) + 4 * kWidth) % kWidth;
        p.setBrush(QColor::fromHsv((c * 60 + n * 5) % 360, 200, 200));
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(x, int(kHeight * 0.7) + c * 40, 220, 90, 20, 20);
    }
    p.setPen(Qt::white);
    QFont font = p.font();
    font.setPixelSize(40);
    p.setFont(font);
    p.drawText(kWidth - 560, kHeight - 30,
               QStringLiteral("2025-03-04 05:%1:00.000").arg(n % 60, 2, 10, QChar(u'0')));
    p.end();
    std::normal_distribution<float> noise(0.0f, 4.0f);
    for (int y = 0; y < kHeight; ++y) {
        uint8_t* row = image.scanLine(y);
        for (int i = 0; i < kWidth * 3; ++i)
            row[i] = uint8_t(std::clamp(int(row[i] + noise(random)), 0, 255));
    }
    return image.rgbSwapped(); // the codec takes BGR
}

SystemTime TimeAt(uint64_t nSeconds) {
    return FileTimeToSystemTime(
        SystemTimeToFileTime(SystemTime{.wYear = 2025, .wMonth = 3, .wDay = 4}) +
        nSeconds * 10000000ull);
}

// An archive of kImages (or `count`) distinct pictures `gap` seconds apart.
ImageTree Archive(int nQuality, uint64_t gap, int count = kImages) {
    char camera[48];
    std::snprintf(camera, sizeof camera, "q%d-%llu", nQuality,
                  static_cast<unsigned long long>(gap));
    ImageTree tree{Folder(), "", camera};
    static std::map<std::string, bool> made;
    if (made[camera])
        return tree;
    made[camera] = true;
    JpegScratch scratch;
    std::vector<uint8_t> jpeg;
    for (int i = 0; i < count; ++i) {
        const QImage bgr = Scene(i % kImages);
        EncodeJpeg(bgr.constBits(), kWidth, kHeight, bgr.bytesPerLine(), nQuality, scratch, jpeg);
        SaveImageFile(tree, TimeAt(i * gap), jpeg.data(), jpeg.size());
    }
    return tree;
}

std::vector<std::string> ArchiveFiles(const ImageTree& tree, uint64_t gap, int count) {
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        std::string path;
        CreateImagePath(tree, TimeAt(i * gap), path);
        paths.push_back(path);
    }
    return paths;
}

class BenchHost : public ViewerHost {
  public:
    explicit BenchHost(ImageTree tree) : tree_(std::move(tree)) {}
    std::string Title() const override { return "Bench"; }
    std::string PlacementKey() const override { return "bench"; }
    ImageTree Tree() const override { return tree_; }
    int RetentionDays() const override { return 0; }
    std::string Caption() const override { return "Brindle View"; }
    int DateDialogId() const override { return 136; }
    bool TraceOn() const override { return false; }
    bool HasTray() const override { return false; }
    std::string ReadPlacement(const std::string&) override { return "0,0,1280,720,0,1"; }
    void WritePlacement(const std::string&, const std::string&) override {}
    void SetLiveSlot(std::shared_ptr<LiveFrameSlot>) override {}

  private:
    ImageTree tree_;
};

// A viewer over an archive, open on the newest image and its list read.
struct ViewerRig {
    ViewerRig(const ImageTree& tree, int nBrightness, const Clock& clock) : host(tree) {
        entry.nMode = VIEWER_OPENING;
        entry.nBrightness = nBrightness;
        window = std::make_unique<ImageViewerWindow>(entry, host, clock);
        window->resize(1280, 720);
        window->show();
        while (IsListing(entry) || entry.nMode == VIEWER_OPENING) {
            window->Tick();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        picture = window->Control(1004);
        canvas = QImage(picture->size(), QImage::Format_RGB32);
    }
    // Paints the picture control as the window system would, into an image
    // of its size (the offscreen platform paints nothing on its own).
    void Draw() { picture->render(&canvas); }
    ~ViewerRig() {
        window.reset();
        if (entry.pListWorker)
            entry.pListWorker->Wait();
    }
    // Paused on the first image, then playing forwards at `row`.
    void PlayFromStart(int row) {
        window->RunCommand(CMD_PAUSE);
        entry.nCurrentIndex = 0;
        window->ChooseSpeed(true, row);
    }
    BenchHost host;
    ViewerEntry entry;
    std::unique_ptr<ImageViewerWindow> window;
    QWidget* picture = nullptr;
    QImage canvas;
};

// One timer step at the fastest speed, with the paint it causes.
void BM_ViewerStep(benchmark::State& state) {
    const int nQuality = int(state.range(0));
    ManualClock clock;
    ViewerRig rig(Archive(nQuality, kFastGapSeconds), int(state.range(1)), clock);
    rig.PlayFromStart(kFastestRow);
    int64_t nShown = 0, nSteps = 0;
    for (auto _ : state) {
        if (rig.entry.nCurrentIndex >= rig.entry.nValidCount - 1) {
            state.PauseTiming();
            rig.PlayFromStart(kFastestRow);
            state.ResumeTiming();
        }
        const int64_t before = rig.entry.nCurrentIndex;
        clock.Advance(10);
        rig.window->Tick();
        rig.Draw();
        nShown += rig.entry.nCurrentIndex == before + 1;
        ++nSteps;
    }
    state.counters["shown_per_step"] = double(nShown) / double(nSteps);
}

// libjpeg-turbo alone: the same files read and decoded to BGR rows at the
// stride the viewer uses, into a buffer kept from image to image.
void BM_LibjpegDecode(benchmark::State& state) {
    const std::vector<std::string> paths =
        ArchiveFiles(Archive(int(state.range(0)), kFastGapSeconds), kFastGapSeconds, kImages);
    const size_t nStride = (size_t(kWidth) * 3 + 3) & ~size_t(3);
    std::vector<uint8_t> pixels(nStride * kHeight);
    std::vector<uint8_t> file;
    std::vector<JSAMPROW> rows(kHeight);
    for (int y = 0; y < kHeight; ++y)
        rows[size_t(y)] = pixels.data() + nStride * size_t(y);
    size_t n = 0;
    for (auto _ : state) {
        ReadImageFile(paths[n++ % paths.size()], file);
        jpeg_decompress_struct cinfo;
        jpeg_error_mgr err;
        cinfo.err = jpeg_std_error(&err);
        jpeg_create_decompress(&cinfo);
        jpeg_mem_src(&cinfo, file.data(), file.size());
        jpeg_read_header(&cinfo, TRUE);
        cinfo.out_color_space = JCS_EXT_BGR;
        jpeg_start_decompress(&cinfo);
        while (cinfo.output_scanline < cinfo.output_height)
            jpeg_read_scanlines(&cinfo, rows.data() + cinfo.output_scanline,
                                cinfo.output_height - cinfo.output_scanline);
        jpeg_finish_decompress(&cinfo);
        jpeg_destroy_decompress(&cinfo);
        benchmark::DoNotOptimize(pixels.data());
    }
}

// The program's clock on the steady clock, so that playback sees the time
// each step really took.
class RealClock : public Clock {
  public:
    uint32_t Tick() const override {
        return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count()) |
               1u;
    }
    SystemTime LocalNow() const override { return TimeAt(0); }
};

// Plays an archive of one image a second at speed row `row` as the 10 ms
// timer does (the next step 10 ms after the last one began, or at once when
// it took longer) and counts the images passed over.
void BM_OneSecondArchive(benchmark::State& state) {
    const int row = int(state.range(0));
    constexpr int kCount = 120;
    RealClock clock;
    ViewerRig rig(Archive(25, 1, kCount), 100, clock);
    int64_t nSkipped = 0, nShown = 0;
    double seconds = 0;
    for (auto _ : state) {
        rig.PlayFromStart(row);
        const auto start = std::chrono::steady_clock::now();
        int64_t last = rig.entry.nCurrentIndex;
        while (rig.entry.nMode == VIEWER_FORWARD && rig.entry.nPlaying != 0) {
            const auto next = std::chrono::steady_clock::now() + std::chrono::milliseconds(10);
            rig.window->Tick();
            rig.Draw();
            const int64_t now = rig.entry.nCurrentIndex;
            if (now > last) {
                nSkipped += now - last - 1;
                ++nShown;
            }
            last = now;
            std::this_thread::sleep_until(next);
        }
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    state.counters["skipped"] = double(nSkipped);
    state.counters["images_per_s"] = double(nShown) / seconds;
    state.counters["seconds_per_s"] = double(SPEED_TABLE[row].nSecondsPerSecond);
}

BENCHMARK(BM_ViewerStep)
    ->Args({25, 100})
    ->Args({25, 150})
    ->Args({90, 100})
    ->Args({90, 150})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibjpegDecode)->Arg(25)->Arg(90)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OneSecondArchive)->DenseRange(8, 11)->Iterations(1)->Unit(benchmark::kMillisecond);

// Prints the ratios of the pairs and the fastest row without skipping after
// the usual table, from the medians when repetitions are asked for. The
// ratios use the thread's CPU time, which a shared machine disturbs less
// than the wall clock.
class ViewerReporter : public benchmark::ConsoleReporter {
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
            if (name.rfind("BM_OneSecondArchive/", 0) == 0) {
                const int row = std::atoi(name.c_str() + std::strlen("BM_OneSecondArchive/"));
                auto skipped = run.counters.find("skipped");
                if (skipped != run.counters.end())
                    skipped_[row] = std::max(skipped_[row], double(skipped->second));
            }
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const char* args : {"25/100", "25/150", "90/100", "90/150"}) {
            const std::string q = std::string(args).substr(0, 2);
            Ratio("BM_ViewerStep/" + std::string(args), "BM_LibjpegDecode/" + q, 1.5);
        }
        int fastest = -1;
        for (const auto& [row, skipped] : skipped_)
            if (skipped == 0 && (fastest < 0 || row == fastest + 1))
                fastest = row;
        if (fastest >= 0)
            std::printf("fastest row showing every image of a one-image-a-second archive: %d "
                        "(%u s a second)\n",
                        fastest, SPEED_TABLE[fastest].nSecondsPerSecond);
    }
    bool repeated_ = false;

  private:
    void Ratio(const std::string& subject, const std::string& base, double fTarget) {
        if (!times_.count(subject) || !times_.count(base))
            return;
        const double ratio = times_[subject] / times_[base];
        std::printf("%-24s / %-20s = %.3f (target <= %.2f) %s\n", subject.c_str(), base.c_str(),
                    ratio, fTarget, ratio <= fTarget ? "met" : "NOT MET");
    }
    std::map<std::string, double> times_;
    std::map<int, double> skipped_;
};

} // namespace
} // namespace brindle

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    int nQtArgc = 1;
    QApplication app(nQtArgc, argv);
    benchmark::Initialize(&argc, argv);
    brindle::ViewerReporter reporter;
    for (int i = 1; i < argc; ++i)
        reporter.repeated_ |= std::string(argv[i]).rfind("--benchmark_repetitions", 0) == 0;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::error_code error;
    std::filesystem::remove_all(brindle::Folder(), error);
    return 0;
}
