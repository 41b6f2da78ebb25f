// The whole road of an image, measured on the real programs: BrindleHost
// with N test cameras at 1920x1080 showing the textured picture, each
// captured, saved and sent every second (change detection off), and
// BrindleView storing what arrives, both headless on loopback.
//
// Each camera count runs twice, one run after the other: with the frame
// cycles on the tick's own thread ("CycleWorkers=0", as before the worker
// pool) and on the workers (the default). The ratios of the two runs are
// printed after the table.
//
// Per run: images per second the server saved against those due (N a
// second) and those the client stored, the tick's duration on its thread
// (99th percentile and longest of the wall time, which includes the time
// the thread waited for a processor, and 99th percentile of the thread's
// own CPU time; written by the host at its end through
// BRINDLE_TICK_STATS), CPU time per image of each program, the host's
// resident memory (whole and per camera), and the latency from the capture
// time (the file name) to the moment the client closed the written file
// (seen through inotify; file modification times come from the kernel's
// coarse clock and can lag the capture time itself), median and 99th
// percentile. CPU times come from /proc in clock ticks (10 ms), so the
// client's small per-image figure is coarse.
//
// BRINDLE_BENCH_SECONDS sets the measured window of each run (default 60).
// --benchmark_filter picks camera counts, for instance
// --benchmark_filter=BM_EndToEnd/8/ for the two runs with eight cameras.
#include "e2e/e2e_support.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <poll.h>
#include <sstream>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

namespace brindle::test {
namespace {

namespace fs = std::filesystem;
using WallClock = std::chrono::system_clock;

constexpr int WARM_UP_S = 4;
constexpr int DEFAULT_WINDOW_S = 60;
constexpr int FORMAT_1080P = 2; // the test camera offers 640x480, 1280x720, 1920x1080
constexpr int PATTERN_TEXTURE = 3;

int WindowSeconds() {
    const char* pcSeconds = std::getenv("BRINDLE_BENCH_SECONDS");
    int n = pcSeconds != nullptr ? std::atoi(pcSeconds) : 0;
    return n > 0 ? n : DEFAULT_WINDOW_S;
}

// Resident memory of a process now, in megabytes.
double ResidentMb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024.0;
    }
    return 0;
}

// A number "key=value" of the host's tick record, -1 when it is missing.
double TickStat(const std::string& text, const std::string& key) {
    size_t at = text.find(key + "=");
    return at == std::string::npos ? -1 : std::atof(text.c_str() + at + key.size() + 1);
}

// User plus system CPU time of a process so far, in seconds.
double CpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15)
            stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// The capture time that an image's path names ("<yyyymmdd>/<hhmmss-mmm>.jpg"),
// as wall-clock milliseconds since the epoch.
bool CaptureTimeOf(const fs::path& file, int64_t& ms) {
    std::string day = file.parent_path().filename().string();
    std::string name = file.filename().string();
    std::tm t{};
    int milli = 0;
    if (std::sscanf(day.c_str(), "%4d%2d%2d", &t.tm_year, &t.tm_mon, &t.tm_mday) != 3 ||
        std::sscanf(name.c_str(), "%2d%2d%2d-%3d", &t.tm_hour, &t.tm_min, &t.tm_sec, &milli) != 4)
        return false;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    t.tm_isdst = -1;
    ms = static_cast<int64_t>(std::mktime(&t)) * 1000 + milli;
    return true;
}

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               WallClock::now().time_since_epoch())
        .count();
}

// Records when each image file under a folder is complete: closed after
// writing, or moved into place (the programs write a temporary file and
// rename it). The folders below appear while it runs and are watched as
// they come.
class ArrivalWatcher {
  public:
    explicit ArrivalWatcher(const std::string& root)
        : fd_(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {
        Watch(root);
        thread_ = std::thread([this] { Run(); });
    }
    ~ArrivalWatcher() {
        fStop_ = true;
        thread_.join();
        ::close(fd_);
    }
    std::map<std::string, int64_t> Arrivals() {
        std::lock_guard<std::mutex> guard(lock_);
        return arrivals_;
    }

  private:
    void Watch(const std::string& folder) {
        int wd = ::inotify_add_watch(fd_, folder.c_str(), IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO);
        if (wd >= 0)
            folders_[wd] = folder;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(folder, ec))
            if (entry.is_directory())
                Watch(entry.path().string());
    }
    void Run() {
        alignas(inotify_event) char buffer[16384];
        while (!fStop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            ssize_t n = ::read(fd_, buffer, sizeof buffer);
            int64_t now = NowMs();
            for (ssize_t i = 0; i < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buffer + i);
                std::string path = folders_[e->wd] + "/" + (e->len ? e->name : "");
                if ((e->mask & IN_ISDIR) && (e->mask & IN_CREATE))
                    Watch(path);
                else if (e->mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) {
                    std::lock_guard<std::mutex> guard(lock_);
                    arrivals_.emplace(path, now);
                }
                i += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
        }
    }

    int fd_;
    std::map<int, std::string> folders_; // used by the watcher thread after start
    std::mutex lock_;
    std::map<std::string, int64_t> arrivals_;
    std::atomic<bool> fStop_{false};
    std::thread thread_;
};

// Capture times of the image files under `root`.
std::vector<int64_t> CaptureTimes(const std::string& root) {
    std::vector<int64_t> times;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        int64_t ms = 0;
        if (it->is_regular_file() && it->path().extension() == ".jpg" &&
            CaptureTimeOf(it->path(), ms))
            times.push_back(ms);
    }
    return times;
}

double Percentile(std::vector<int64_t> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    size_t index = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return static_cast<double>(values[std::min(index, values.size() - 1)]);
}

std::string HostSettings(uint16_t nPort, int nCameras, bool fWorkers) {
    std::string text = "[Settings]\r\nPort=" + std::to_string(nPort) +
                       "\r\nTestPattern=" + std::to_string(PATTERN_TEXTURE) + "\r\n" +
                       (fWorkers ? "" : "CycleWorkers=0\r\n");
    for (int i = 0; i < nCameras; ++i)
        text += "[testcam:" + std::to_string(i) +
                "]\r\nUse=Yes\r\nSend=Yes\r\nSave=Yes\r\n"
                "Cycle=1\r\nTime=4\r\nQuality=80\r\nFormat=" +
                std::to_string(FORMAT_1080P) + "\r\n";
    return text;
}

void BM_EndToEnd(benchmark::State& state) {
    const int nCameras = static_cast<int>(state.range(0));
    const bool fWorkers = state.range(1) != 0;
    const int nWindow = WindowSeconds();
    TempDir dir;
    std::string hostDir = dir.File("host"), viewDir = dir.File("view");
    fs::create_directories(hostDir);
    fs::create_directories(viewDir);
    uint16_t nPort = FreeLoopbackPort();
    WriteFileText(hostDir + "/BrindleHost.ini", HostSettings(nPort, nCameras, fWorkers));
    const std::string tickFile = dir.File("ticks.txt");

    for (auto _ : state) {
        ChildProcess host, view;
        ArrivalWatcher arrivals(viewDir);
        ::setenv("BRINDLE_TICK_STATS", tickFile.c_str(), 1);
        bool fStarted = host.Start(HostProgram(),
                                   {"--headless", "--data-dir", hostDir, "--test-camera",
                                    std::to_string(nCameras), "--listen", "127.0.0.1"},
                                   dir.File("host.out"));
        ::unsetenv("BRINDLE_TICK_STATS");
        if (!fStarted || !WaitAccepting(nPort, 20000) ||
            !view.Start(ViewProgram(),
                        {"--headless", "--data-dir", viewDir, "--connect",
                         "127.0.0.1:" + std::to_string(nPort)},
                        dir.File("view.out"))) {
            state.SkipWithError("the programs did not start");
            return;
        }
        std::this_thread::sleep_for(std::chrono::seconds(WARM_UP_S));
        int64_t t0 = NowMs();
        double hostCpu0 = CpuSeconds(host.Pid()), viewCpu0 = CpuSeconds(view.Pid());
        std::this_thread::sleep_for(std::chrono::seconds(nWindow));
        int64_t t1 = NowMs();
        double hostCpu = CpuSeconds(host.Pid()) - hostCpu0;
        double viewCpu = CpuSeconds(view.Pid()) - viewCpu0;
        double hostRss = ResidentMb(host.Pid());
        view.Stop();
        host.Stop();
        const std::string ticks = ReadFileText(tickFile);

        // Both sides count the images captured inside the window.
        std::vector<int64_t> latencies;
        for (const auto& [path, arrived] : arrivals.Arrivals()) {
            int64_t captured = 0;
            if (CaptureTimeOf(path, captured) && captured >= t0 && captured < t1)
                latencies.push_back(arrived - captured);
        }
        size_t nSaved = 0;
        for (int64_t captured : CaptureTimes(hostDir))
            nSaved += captured >= t0 && captured < t1 ? 1 : 0;
        double seconds = static_cast<double>(t1 - t0) / 1000.0;
        double nDelivered = static_cast<double>(latencies.size());
        state.counters["delivered_per_s"] = nDelivered / seconds;
        state.counters["saved_per_s"] = static_cast<double>(nSaved) / seconds;
        state.counters["saved_to_due"] = static_cast<double>(nSaved) / seconds / nCameras;
        state.counters["tick_p99_ms"] = TickStat(ticks, "p99_us") / 1000;
        state.counters["tick_max_ms"] = TickStat(ticks, "max_us") / 1000;
        state.counters["tick_cpu_p99_ms"] = TickStat(ticks, "cpu_p99_us") / 1000;
        state.counters["host_rss_mb"] = hostRss;
        state.counters["rss_per_camera_mb"] = hostRss / nCameras;
        state.counters["delivered_to_saved"] =
            nSaved ? nDelivered / static_cast<double>(nSaved) : 0;
        state.counters["host_cpu_ms_per_image"] = nSaved ? hostCpu * 1000 / nSaved : 0;
        state.counters["view_cpu_ms_per_image"] = nDelivered ? viewCpu * 1000 / nDelivered : 0;
        state.counters["view_to_host_cpu"] = hostCpu > 0 ? viewCpu / hostCpu : 0;
        state.counters["latency_median_ms"] = Percentile(latencies, 0.5);
        state.counters["latency_p99_ms"] = Percentile(latencies, 0.99);
    }
}
// Arguments: cameras, then 0 for the cycles on the tick's thread or 1 for
// the workers; the two runs of a camera count follow each other.
BENCHMARK(BM_EndToEnd)
    ->ArgsProduct({{1, 4, 8, 16}, {0, 1}})
    ->ArgNames({"", "workers"})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// Prints, per camera count, the workers' run against the tick's run after
// the table.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            results_[run.benchmark_name()] = run.counters;
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const auto& [name, pool] : results_) {
            size_t at = name.find("/workers:1");
            if (at == std::string::npos)
                continue;
            std::string tickName = name;
            tickName.replace(at, 10, "/workers:0");
            auto tick = results_.find(tickName);
            if (tick == results_.end())
                continue;
            std::printf("%s against workers:0\n", name.c_str());
            for (const char* counter :
                 {"saved_per_s", "saved_to_due", "tick_p99_ms", "tick_cpu_p99_ms",
                  "latency_median_ms", "latency_p99_ms", "host_cpu_ms_per_image", "host_rss_mb"}) {
                double a = At(pool, counter), b = At(tick->second, counter);
                std::printf("  %-22s %9.3f / %9.3f = %.3f\n", counter, a, b, b != 0 ? a / b : 0.0);
            }
        }
    }

  private:
    static double At(const benchmark::UserCounters& counters, const char* name) {
        auto it = counters.find(name);
        return it == counters.end() ? 0 : double(it->second.value);
    }
    std::map<std::string, benchmark::UserCounters> results_;
};

} // namespace
} // namespace brindle::test

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    brindle::test::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
