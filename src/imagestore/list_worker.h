// The listing and cleanup worker of one camera folder.
//
// One run does two passes over the camera folder P:
//  1. listing: for every day folder whose number is not below the threshold
//     day T and not below the start day S, in name order, appends the full
//     path of each file in it, in name order, to the list file, one per line
//     ending in CR LF;
//  2. cleanup: removes every day folder whose number is below T, with all its
//     content.
// Only directories named with exactly eight digits count as day folders.
// Nothing below P is reached through a symbolic link or across a mount
// point, so nothing outside P is ever listed or removed. P itself is opened
// as the caller names it (the image folder may well be a link to another
// disk).
#pragma once

#include "common/unique_fd.h"
#include "platform/clock.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace brindle {

// Threshold day T for a retention period of nDays days at local time `now`:
// the date nDays days before today as yyyymmdd; 0 (nothing is removed) when
// nDays is 0 or less. With nDays = 31 today and the 31 days before it stay.
uint32_t ThresholdDay(const SystemTime& now, int nDays);

struct ListingJob {
    std::string cCameraPath; // P
    uint32_t nThreshold = 0; // T: day folders below it are removed; 0 removes nothing
    uint32_t nStartDay = 0;  // S: day folders below it are not listed; 0 lists all
    // When set, the list is written to the temporary file cListTempPath and
    // renamed to cListPath once it is whole (see OpenListFile).
    std::string cListPath = {};
    std::string cListTempPath = {};
};

// Starts a new list file for `listPath`: removes the old one (or a link in
// its place), then creates a temporary file beside it, opened once for the
// worker to write and once for reading, and records both names in `job`.
// The run renames it to `listPath` once every line is written, so the list
// file appears only whole; a run that ends early removes it. False when the
// files cannot be made (nothing is left behind then).
bool OpenListFile(const std::string& listPath, ListingJob& job, UniqueFd& writer, UniqueFd& reader);

// What one run did, for tests, benchmarks and the curious.
struct ListingStats {
    uint64_t nLines = 0;        // lines written to the list file
    uint32_t nDaysListed = 0;   // day folders listed
    uint32_t nDaysRemoved = 0;  // day folders removed completely
    uint32_t nRemoveErrors = 0; // entries that could not be removed (they stay)
    uint32_t rcList = 0;        // first failure of the listing pass, 0 if none
};

// Runs both passes on the calling thread. `listFd` is the list file opened
// for writing (borrowed; -1 runs the cleanup only). `listWritten`, when
// given, is set once every line is written (and the list file is in place). `stop` ends the run
// early between two entries (what is removed stays removed).
ListingStats RunListing(const ListingJob& job, int listFd, const std::atomic<bool>& stop,
                        std::atomic<bool>* listWritten = nullptr);

// RunListing on its own thread. The worker never outlives its owner: the
// destructor asks the run to stop and joins the thread.
class ListWorker {
  public:
    // Starts a run that writes to `listFile` (owned by the worker and closed
    // once the listing pass is over). Returns null when no thread can be had.
    static std::unique_ptr<ListWorker> Start(ListingJob job, UniqueFd listFile);
    ~ListWorker();
    ListWorker(const ListWorker&) = delete;
    ListWorker& operator=(const ListWorker&) = delete;

    // True once every line is in the list file (what a reader sees after
    // this returned true is the whole list).
    bool ListWritten() const { return fListWritten_.load(std::memory_order_acquire); }
    // True once the cleanup is over too; Stats() is final then.
    bool Done() const { return fDone_.load(std::memory_order_acquire); }
    const ListingStats& Stats() const { return stats_; }
    // Blocks until the run is over (shutdown, tests and benchmarks).
    void Wait();

  private:
    ListWorker(ListingJob job, UniqueFd listFile);
    void Run();

    ListingJob job_;
    UniqueFd listFile_;
    ListingStats stats_;
    std::atomic<bool> fStop_{false};
    std::atomic<bool> fListWritten_{false};
    std::atomic<bool> fDone_{false};
    std::thread thread_;
};

} // namespace brindle
