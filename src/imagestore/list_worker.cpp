#include "imagestore/list_worker.h"

#include "common/error_codes.h"
#include "common/file_io.h"
#include "common/os_error.h"
#include "imagestore/image_path.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace brindle {

namespace {

// Deeper folders inside a day folder are left in place rather than spending
// a descriptor per level without end.
constexpr int kMaxRemoveDepth = 32;
constexpr size_t kListChunk = 64 * 1024;

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

// Opens a folder below `parentFd` without following a link in its place.
UniqueFd OpenSubFolder(int parentFd, const char* name) {
    return UniqueFd(::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// Reads the names in a folder; `folderFd` stays open and owned by the caller.
bool ReadNames(int folderFd, std::vector<std::string>& names, std::vector<unsigned char>& types) {
    UniqueFd copy(::fcntl(folderFd, F_DUPFD_CLOEXEC, 0));
    if (!copy)
        return false;
    DirPtr dir(::fdopendir(copy.Get()));
    if (!dir)
        return false;
    copy.Release();
    ::rewinddir(dir.get()); // the duplicate shares the read position
    while (struct dirent* e = ::readdir(dir.get())) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        names.emplace_back(e->d_name);
        types.push_back(e->d_type);
    }
    return true;
}

// The type of an entry without following it: the directory entry's type
// when the file system gives one, else lstat's.
mode_t EntryType(int folderFd, const std::string& name, unsigned char dtype) {
    switch (dtype) {
    case DT_DIR:
        return S_IFDIR;
    case DT_REG:
        return S_IFREG;
    case DT_LNK:
        return S_IFLNK;
    case DT_UNKNOWN:
        break;
    default:
        return 0;
    }
    struct stat st;
    if (::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return 0;
    return st.st_mode & S_IFMT;
}

bool IsDayName(const std::string& name) {
    return name.size() == 8 &&
           std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

struct DayFolder {
    uint32_t nDay;
    std::string cName;
};

// The eight-digit folders of the camera folder, in name order.
std::vector<DayFolder> ScanDayFolders(int cameraFd) {
    std::vector<std::string> names;
    std::vector<unsigned char> types;
    std::vector<DayFolder> days;
    if (!ReadNames(cameraFd, names, types))
        return days;
    for (size_t i = 0; i < names.size(); ++i) {
        if (IsDayName(names[i]) && EntryType(cameraFd, names[i], types[i]) == S_IFDIR)
            days.push_back({static_cast<uint32_t>(std::stoul(names[i])), std::move(names[i])});
    }
    std::sort(days.begin(), days.end(),
              [](const DayFolder& a, const DayFolder& b) { return a.nDay < b.nDay; });
    return days;
}

// Collects whole lines and writes them in chunks; after a failed write it
// only counts.
class ListWriter {
  public:
    explicit ListWriter(int fd) : fd_(fd) { buffer_.reserve(kListChunk + 4096); }

    void Line(const std::string& prefix, const std::string& day, const std::string& name) {
        const size_t start = buffer_.size();
        buffer_ += prefix;
        buffer_ += day;
        buffer_ += '/';
        buffer_ += name;
        // A name holding a line break would split its line in two; the
        // mangled name still reads as a foreign file, as it is.
        std::replace_if(
            buffer_.begin() + static_cast<std::ptrdiff_t>(start), buffer_.end(),
            [](char c) { return c == '\r' || c == '\n'; }, '?');
        buffer_ += "\r\n";
        ++nLines_;
        if (buffer_.size() >= kListChunk)
            Flush();
    }

    void Flush() {
        size_t done = 0;
        while (rc_ == 0 && fd_ >= 0 && done < buffer_.size()) {
            ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                rc_ = n < 0 ? LastOsError() : ERROR_DISK_FULL_CODE;
            else
                done += static_cast<size_t>(n);
        }
        buffer_.clear();
    }

    uint64_t Lines() const { return nLines_; }
    uint32_t Error() const { return rc_; }

  private:
    int fd_;
    uint32_t rc_ = 0;
    uint64_t nLines_ = 0;
    std::string buffer_;
};

// Appends the files of one day folder, in name order. Entries that are not
// plain files (links, sub-folders) are not images and are passed over.
void ListDay(int cameraFd, const std::string& prefix, const DayFolder& day, ListWriter& out) {
    UniqueFd dayFd = OpenSubFolder(cameraFd, day.cName.c_str());
    std::vector<std::string> names;
    std::vector<unsigned char> types;
    if (!dayFd || !ReadNames(dayFd.Get(), names, types))
        return;
    std::vector<std::string> files;
    files.reserve(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        if (EntryType(dayFd.Get(), names[i], types[i]) == S_IFREG)
            files.push_back(std::move(names[i]));
    }
    std::sort(files.begin(), files.end());
    for (const std::string& name : files)
        out.Line(prefix, day.cName, name);
}

// Removes `name` below `parentFd` with everything in it. Links are removed as
// links; folders on another device than `device` are not entered.
void RemoveTree(int parentFd, const std::string& name, dev_t device, int depth,
                const std::atomic<bool>& stop, ListingStats& stats) {
    UniqueFd fd = OpenSubFolder(parentFd, name.c_str());
    struct stat st;
    if (!fd || ::fstat(fd.Get(), &st) != 0 || st.st_dev != device || depth > kMaxRemoveDepth) {
        ++stats.nRemoveErrors;
        return;
    }
    std::vector<std::string> names;
    std::vector<unsigned char> types;
    if (!ReadNames(fd.Get(), names, types)) {
        ++stats.nRemoveErrors;
        return;
    }
    for (size_t i = 0; i < names.size() && !stop.load(std::memory_order_relaxed); ++i) {
        if (EntryType(fd.Get(), names[i], types[i]) == S_IFDIR)
            RemoveTree(fd.Get(), names[i], device, depth + 1, stop, stats);
        else if (::unlinkat(fd.Get(), names[i].c_str(), 0) != 0)
            ++stats.nRemoveErrors;
    }
    if (::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) != 0) {
        if (depth > 0 || !stop.load(std::memory_order_relaxed))
            ++stats.nRemoveErrors;
        return;
    }
    if (depth == 0)
        ++stats.nDaysRemoved;
}

} // namespace

uint32_t ThresholdDay(const SystemTime& now, int nDays) {
    if (nDays <= 0)
        return 0;
    const int64_t days = DaysFromCivil(now.wYear, now.wMonth, now.wDay) - nDays;
    if (days < 0)
        return 0; // before 1601: nothing is that old
    int year;
    unsigned month, day;
    CivilFromDays(days, year, month, day);
    return static_cast<uint32_t>(year) * 10000u + month * 100u + day;
}

bool OpenListFile(const std::string& listPath, ListingJob& job, UniqueFd& writer,
                  UniqueFd& reader) {
    if (::unlink(listPath.c_str()) != 0 && errno != ENOENT)
        return false;
    std::string temp;
    int fd = -1;
    if (CreateTempFileFor(listPath, temp, fd) != 0)
        return false;
    writer.Reset(fd);
    reader.Reset(::open(temp.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!reader) {
        writer.Reset();
        ::unlink(temp.c_str());
        return false;
    }
    job.cListPath = listPath;
    job.cListTempPath = std::move(temp);
    return true;
}

ListingStats RunListing(const ListingJob& job, int listFd, const std::atomic<bool>& stop,
                        std::atomic<bool>* listWritten) {
    ListingStats stats;
    UniqueFd cameraFd(::open(job.cCameraPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat cameraStat;
    if (cameraFd && ::fstat(cameraFd.Get(), &cameraStat) != 0)
        cameraFd.Reset();
    // A missing camera folder is an empty list, as a camera that never saved.
    const std::vector<DayFolder> days =
        cameraFd ? ScanDayFolders(cameraFd.Get()) : std::vector<DayFolder>();

    ListWriter out(listFd);
    const std::string prefix = job.cCameraPath + "/";
    for (const DayFolder& day : days) {
        if (stop.load(std::memory_order_relaxed))
            break;
        if (day.nDay < job.nThreshold || day.nDay < job.nStartDay)
            continue;
        ListDay(cameraFd.Get(), prefix, day, out);
        ++stats.nDaysListed;
    }
    out.Flush();
    stats.nLines = out.Lines();
    stats.rcList = out.Error();
    if (!job.cListTempPath.empty()) {
        if (stats.rcList == 0 && !stop.load(std::memory_order_relaxed))
            stats.rcList = CommitTempFile(listFd, job.cListTempPath, job.cListPath);
        else
            ::unlink(job.cListTempPath.c_str());
    }
    if (listWritten != nullptr)
        listWritten->store(true, std::memory_order_release);

    for (const DayFolder& day : days) {
        if (stop.load(std::memory_order_relaxed) || day.nDay >= job.nThreshold)
            break; // in ascending order: the rest are not below T either
        RemoveTree(cameraFd.Get(), day.cName, cameraStat.st_dev, 0, stop, stats);
    }
    return stats;
}

ListWorker::ListWorker(ListingJob job, UniqueFd listFile)
    : job_(std::move(job)), listFile_(std::move(listFile)) {}

std::unique_ptr<ListWorker> ListWorker::Start(ListingJob job, UniqueFd listFile) {
    std::unique_ptr<ListWorker> worker(new ListWorker(std::move(job), std::move(listFile)));
    try {
        worker->thread_ = std::thread(&ListWorker::Run, worker.get());
    } catch (const std::system_error&) {
        return nullptr;
    }
    return worker;
}

ListWorker::~ListWorker() {
    fStop_.store(true, std::memory_order_relaxed);
    if (thread_.joinable())
        thread_.join();
}

void ListWorker::Wait() {
    if (thread_.joinable())
        thread_.join();
}

void ListWorker::Run() {
    stats_ = RunListing(job_, listFile_.Get(), fStop_, &fListWritten_);
    listFile_.Reset();
    fDone_.store(true, std::memory_order_release);
}

} // namespace brindle
