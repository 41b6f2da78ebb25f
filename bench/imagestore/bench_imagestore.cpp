// Listing and cleanup of a large camera folder.
//
// Generates once a camera folder of 500,000 images over 100 day folders and
// measures, in the same run:
//  - a complete listing into a viewer entry, against `find <camera> -type f |
//    sort` over the same tree (target: at most 1.5 times as long);
//  - the re-listing of the last day alone (target: under 5% of the complete
//    listing);
//  - the memory the list holds per image (target: at most 16 bytes);
//  - the removal of 30 day folders of 5,000 images each.
// The tree goes into BRINDLE_BENCH_DIR when set, else /dev/shm when writable
// (creating half a million files on a slow disk takes minutes), else the
// temporary folder; it is removed at the end.
#include "imagestore/image_list.h"
#include "imagestore/list_worker.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <unistd.h>

namespace brindle {
namespace {

namespace fs = std::filesystem;

constexpr int kDays = 100;
constexpr int kPerDay = 5000;
constexpr int kRemovedDays = 30;

std::string g_root;

std::string DayName(int index) {
    // Consecutive dates from 1 January 2024.
    int year;
    unsigned month, day;
    CivilFromDays(DaysFromCivil(2024, 1, 1) + index, year, month, day);
    return DayFolderName(static_cast<uint32_t>(year) * 10000 + month * 100 + day);
}

// Fills <camera>/<day>/ with kPerDay empty image files, one every 17 s.
void MakeDays(const std::string& camera, int first, int count) {
    for (int d = first; d < first + count; ++d) {
        const std::string folder = camera + "/" + DayName(d) + "/";
        fs::create_directories(folder);
        for (int i = 0; i < kPerDay; ++i) {
            const int s = i * 17;
            const uint32_t nTime =
                static_cast<uint32_t>(s / 3600 * 10000 + s / 60 % 60 * 100 + s % 60);
            const std::string path = folder + ImageFileName(nTime, static_cast<uint32_t>(i % 1000));
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            if (fd >= 0)
                ::close(fd);
        }
    }
}

std::string BenchFolder() {
    if (const char* dir = std::getenv("BRINDLE_BENCH_DIR"))
        return dir;
    if (::access("/dev/shm", W_OK) == 0)
        return "/dev/shm";
    return fs::temp_directory_path().string();
}

ImageTree Tree() {
    return {g_root, "", "cam"};
}

// Lists until the listing is complete, polling like a fast timer would.
void ListToEnd(ViewerEntry& entry, const ImageTree& tree) {
    ListFiles(entry, tree, 0);
    while (entry.hListFile) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ListFilesSub(entry);
    }
    if (entry.pListWorker)
        entry.pListWorker->Wait();
}

void BM_CompleteList(benchmark::State& state) {
    int64_t count = 0, room = 0;
    for (auto _ : state) {
        ViewerEntry entry;
        ListToEnd(entry, Tree());
        count = entry.nValidCount;
        room = entry.nItemsRoom;
    }
    if (count != int64_t{kDays} * kPerDay)
        state.SkipWithError("incomplete list");
    state.counters["images"] = static_cast<double>(count);
    state.counters["bytes_per_image"] =
        static_cast<double>(room) * sizeof(uint64_t) / static_cast<double>(count);
}

void BM_FindSort(benchmark::State& state) {
    const std::string cmd =
        "LC_ALL=C find '" + g_root + "/cam' -type f | LC_ALL=C sort > '" + g_root + "/find.lst'";
    for (auto _ : state) {
        if (std::system(cmd.c_str()) != 0)
            state.SkipWithError("find | sort failed");
    }
}

void BM_RelistLastDay(benchmark::State& state) {
    ViewerEntry entry;
    ListToEnd(entry, Tree());
    for (auto _ : state)
        ListToEnd(entry, Tree());
    if (entry.nValidCount != int64_t{kDays} * kPerDay)
        state.SkipWithError("list changed");
}

void BM_Remove30Days(benchmark::State& state) {
    const std::string camera = g_root + "/old";
    std::atomic<bool> stop{false};
    for (auto _ : state) {
        state.PauseTiming();
        MakeDays(camera, 0, kRemovedDays);
        state.ResumeTiming();
        const ListingStats stats = RunListing({camera, 20991231, 0}, -1, stop);
        if (stats.nDaysRemoved != kRemovedDays)
            state.SkipWithError("not every day folder was removed");
    }
    state.counters["images_removed"] = kRemovedDays * kPerDay;
}

BENCHMARK(BM_FindSort)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_CompleteList)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_RelistLastDay)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_Remove30Days)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// Keeps each benchmark's real time per iteration to print the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            times_[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    double Time(const std::string& prefix) const {
        for (const auto& [name, time] : times_)
            if (name.rfind(prefix, 0) == 0)
                return time;
        return 0;
    }

  private:
    std::map<std::string, double> times_;
};

} // namespace
} // namespace brindle

int main(int argc, char** argv) {
    using namespace brindle;
    benchmark::Initialize(&argc, argv);
    std::string pattern = BenchFolder() + "/brindle-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    g_root = pattern;
    std::printf("generating %d images in %s ...\n", kDays * kPerDay, g_root.c_str());
    MakeDays(g_root + "/cam", 0, kDays);

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double list = reporter.Time("BM_CompleteList");
    const double find = reporter.Time("BM_FindSort");
    const double relist = reporter.Time("BM_RelistLastDay");
    if (list > 0 && find > 0)
        std::printf("complete list / find|sort: %.2f (target <= 1.5)\n", list / find);
    if (list > 0 && relist > 0)
        std::printf("relist last day / complete list: %.2f%% (target < 5%%)\n",
                    100.0 * relist / list);

    std::error_code ec;
    fs::remove_all(g_root, ec);
    benchmark::Shutdown();
    return 0;
}
