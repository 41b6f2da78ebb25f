// The whole road of an image, measured on the real programs: BrindleHost
// with N test cameras at 1920x1080, each captured, saved and sent every
// second, and BrindleView storing what arrives, both headless on loopback.
//
// Per run: images per second the client stored against those the server
// saved (side by side in the same window), CPU time per image of each
// program, and the latency from the capture time (the file name) to the
// moment the client closed the written file (seen through inotify; file
// modification times come from the kernel's coarse clock and can lag the
// capture time itself), median and 99th percentile. CPU times come from
// /proc in clock ticks (10 ms), so the client's small per-image figure is
// coarse.
#include "support/file_text.h"
#include "support/temp_dir.h"
#include "e2e/e2e_support.h"

#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
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
constexpr int WINDOW_S = 30;
constexpr int FORMAT_1080P = 2; // the test camera offers 640x480, 1280x720, 1920x1080

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

// Records when each image file under a folder is closed after writing. The
// folders below appear while it runs and are watched as they come.
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
        int wd = ::inotify_add_watch(fd_, folder.c_str(), IN_CREATE | IN_CLOSE_WRITE);
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
                else if (e->mask & IN_CLOSE_WRITE) {
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

std::string HostSettings(uint16_t nPort, int nCameras) {
    std::string text = "[Settings]\r\nPort=" + std::to_string(nPort) + "\r\n";
    for (int i = 0; i < nCameras; ++i)
        text += "[testcam:" + std::to_string(i) +
                "]\r\nUse=Yes\r\nSend=Yes\r\nSave=Yes\r\n"
                "Cycle=1\r\nTime=4\r\nQuality=80\r\nFormat=" +
                std::to_string(FORMAT_1080P) + "\r\n";
    return text;
}

void BM_EndToEnd(benchmark::State& state) {
    const int nCameras = static_cast<int>(state.range(0));
    TempDir dir;
    std::string hostDir = dir.File("host"), viewDir = dir.File("view");
    fs::create_directories(hostDir);
    fs::create_directories(viewDir);
    uint16_t nPort = FreeLoopbackPort();
    WriteFileText(hostDir + "/BrindleHost.ini", HostSettings(nPort, nCameras));

    for (auto _ : state) {
        ChildProcess host, view;
        ArrivalWatcher arrivals(viewDir);
        if (!host.Start(HostProgram(),
                        {"--headless", "--data-dir", hostDir, "--test-camera",
                         std::to_string(nCameras), "--listen", "127.0.0.1"},
                        dir.File("host.out")) ||
            !WaitAccepting(nPort, 20000) ||
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
        std::this_thread::sleep_for(std::chrono::seconds(WINDOW_S));
        int64_t t1 = NowMs();
        double hostCpu = CpuSeconds(host.Pid()) - hostCpu0;
        double viewCpu = CpuSeconds(view.Pid()) - viewCpu0;
        view.Stop();
        host.Stop();

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
        state.counters["delivered_to_saved"] =
            nSaved ? nDelivered / static_cast<double>(nSaved) : 0;
        state.counters["host_cpu_ms_per_image"] = nSaved ? hostCpu * 1000 / nSaved : 0;
        state.counters["view_cpu_ms_per_image"] = nDelivered ? viewCpu * 1000 / nDelivered : 0;
        state.counters["view_to_host_cpu"] = hostCpu > 0 ? viewCpu / hostCpu : 0;
        state.counters["latency_median_ms"] = Percentile(latencies, 0.5);
        state.counters["latency_p99_ms"] = Percentile(latencies, 0.99);
    }
}
BENCHMARK(BM_EndToEnd)->Arg(1)->Arg(4)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace
} // namespace brindle::test

BENCHMARK_MAIN();
