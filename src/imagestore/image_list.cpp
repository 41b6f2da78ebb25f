#include "imagestore/image_list.h"

#include "common/error_codes.h"
#include "common/log.h"
#include "common/os_error.h"
#include "imagestore/list_file.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace brindle {

namespace {

// BrindleView's trace lines around the listing functions.
class Trace {
  public:
    Trace(const ViewerEntry& entry, const char* name)
        : entry_(entry), name_(name),
          on_(entry.fTrace && (g_nDebug.load(std::memory_order_relaxed) & DEBUG_TRACE) != 0) {
        if (on_)
            LogWrite("ENTER {  %s() pimg=%08X\n", name_, Address());
    }
    ~Trace() {
        if (on_)
            LogWrite("LEAVE }  %s() pimg=%08X\n", name_, Address());
    }
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

  private:
    unsigned Address() const { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(&entry_)); }
    const ViewerEntry& entry_;
    const char* name_;
    bool on_;
};

// The index of the first item of the last item's day.
int64_t FirstOfLastDay(const ViewerEntry& entry) {
    const uint32_t nDay = ImageKeyDay(entry.pItems[entry.nValidCount - 1]);
    int64_t i = entry.nValidCount - 1;
    while (i > 0 && ImageKeyDay(entry.pItems[i - 1]) == nDay)
        --i;
    return i;
}

// Steps 3 and on of a new listing: the start point, the list file and the worker.
void StartListing(ViewerEntry& entry, const ImageTree& tree, int nDays, const Clock& clock) {
    int64_t nStartIndex = 0;
    uint32_t nStartDay = 0;
    if (entry.nValidCount > 0) {
        nStartIndex = FirstOfLastDay(entry);
        nStartDay = ImageKeyDay(entry.pItems[entry.nValidCount - 1]);
    }
    ListingJob job;
    std::string listPath;
    entry.nListError = CameraFolderPath(tree, job.cCameraPath);
    if (entry.nListError == 0)
        entry.nListError = ListFilePath(tree, listPath);
    if (entry.nListError != 0)
        return;
    job.nThreshold = ThresholdDay(clock.LocalNow(), nDays);
    job.nStartDay = nStartDay;
    UniqueFd writer, reader;
    if (!OpenListFile(listPath, job, writer, reader)) {
        entry.nListError = MapErrno(errno);
        return;
    }
    entry.pListWorker = ListWorker::Start(std::move(job), std::move(writer));
    if (!entry.pListWorker) {
        entry.nListError = ERROR_NOT_ENOUGH_MEMORY_CODE;
        return;
    }
    // Moved only now: a listing that could not start must leave the write
    // position on the valid count, or no listing starts until the next date.
    entry.nWritePos = nStartIndex;
    entry.hListFile = std::move(reader);
    entry.nListReadPos = 0;
}

} // namespace

bool IsListing(const ViewerEntry& entry) {
    return entry.hListFile.Valid() || (entry.pListWorker && !entry.pListWorker->Done());
}

int64_t ListFiles(ViewerEntry& entry, const ImageTree& tree, int nDays, const Clock& clock) {
    Trace trace(entry, "ListFiles");
    if (entry.hListFile) {
        ListFilesSub(entry);
        return entry.nValidCount;
    }
    if (entry.pListWorker) {
        // The last run's cleanup may still be going; never two at once.
        if (!entry.pListWorker->Done())
            return entry.nValidCount;
        entry.pListWorker.reset();
    }
    if (entry.nValidCount != entry.nWritePos)
        return entry.nValidCount;
    StartListing(entry, tree, nDays, clock);
    if (entry.hListFile)
        ListFilesSub(entry);
    return entry.nValidCount;
}

int64_t ListFilesSub(ViewerEntry& entry) {
    Trace trace(entry, "ListFilesSub");
    if (!entry.hListFile) {
        if (entry.pListWorker && entry.pListWorker->Done())
            entry.pListWorker.reset();
        return entry.nValidCount;
    }
    // Noted before reading: once the worker says the list is written, one
    // read to the end of the file sees all of it.
    const bool fWritten = !entry.pListWorker || entry.pListWorker->ListWritten();
    const ListReadResult read = ReadListFile(entry);
    // A written list read to its end is complete; a partial last line that
    // can no longer grow does not parse, and ends the listing like any other.
    if (read.fEnded || fWritten) {
        entry.hListFile.Reset();
        entry.nListReadPos = 0;
        if (entry.pListWorker && entry.pListWorker->Done())
            entry.pListWorker.reset();
    }
    return entry.nValidCount;
}

int64_t SkipImageIndex(ViewerEntry& entry, int64_t offset) {
    Trace trace(entry, "SkipImageIndex");
    if (entry.nValidCount > 0)
        entry.nCurrentIndex =
            FindSkipIndex(entry.pItems.get(), entry.nValidCount, entry.nCurrentIndex, offset);
    return entry.nCurrentIndex;
}

uint32_t LoadImagePath(const ViewerEntry& entry, const ImageTree& tree, int64_t index,
                       std::string& path) {
    if (index < 0 || index >= entry.nValidCount)
        return ERROR_INVALID_PARAMETER_CODE;
    return ImageFilePath(tree, entry.pItems[index], path);
}

void ResetDailyListing(ViewerEntry& entry) {
    entry.hListFile.Reset();
    entry.nListReadPos = 0;
    entry.nValidCount = 0;
    entry.nWritePos = 0;
}

int64_t RunListingTick(ViewerEntry& entry, ListingTick tick, const ImageTree& tree, int nDays,
                       const Clock& clock) {
    if (tick == ListingTick::kNone)
        return entry.nValidCount;
    if (tick == ListingTick::kDate)
        ResetDailyListing(entry);
    return ListFiles(entry, tree, nDays, clock);
}

} // namespace brindle
