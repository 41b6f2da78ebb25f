#include "common/file_io.h"

#include "common/error_codes.h"
#include "common/os_error.h"
#include "common/unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace brindle {

namespace {

uint32_t WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return LastOsError();
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return 0;
}

// The file that a write to `path` must replace: the target of a link.
std::string ReplacedFile(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) != nullptr)
            return resolved;
    }
    return path;
}

uint32_t ReadAll(int fd, size_t maxBytes, std::string& bytes) {
    char chunk[65536];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return LastOsError();
        }
        if (n == 0)
            return 0;
        if (bytes.size() + static_cast<size_t>(n) > maxBytes)
            return ERROR_NOT_ENOUGH_MEMORY_CODE;
        bytes.append(chunk, static_cast<size_t>(n));
    }
}

constexpr size_t kTempRandom = 6;

// A new, empty file in `folder` (ending in '/') named after `name` with the
// temporary mark; `mode` is subject to the umask.
uint32_t CreateTempIn(const std::string& folder, std::string_view name, mode_t mode,
                      std::string& tempPath, int& fd) {
    static constexpr char kChars[] =
        "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, sizeof kChars - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = folder;
        tempPath += '.';
        tempPath += name;
        tempPath += ".tmp";
        for (size_t i = 0; i < kTempRandom; ++i)
            tempPath += kChars[pick(random)];
        fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0)
            return 0;
        if (errno != EEXIST)
            return LastOsError();
    }
    return LastOsError();
}

// Writes, flushes, closes and renames; any failure removes the temporary file.
uint32_t WriteAndCommit(UniqueFd fd, const std::string& tempPath, const std::string& path,
                        std::string_view bytes) {
    uint32_t err = WriteAll(fd.Get(), bytes);
    if (err == 0 && ::fdatasync(fd.Get()) != 0)
        err = LastOsError();
    if (::close(fd.Release()) != 0 && err == 0)
        err = LastOsError();
    if (err == 0 && ::rename(tempPath.c_str(), path.c_str()) != 0)
        err = LastOsError();
    if (err != 0)
        ::unlink(tempPath.c_str());
    return err;
}

} // namespace

uint32_t ReadWholeFile(const std::string& path, size_t maxBytes, std::string& bytes) {
    bytes.clear();
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid())
        return LastOsError();
    struct stat st;
    if (::fstat(fd.Get(), &st) == 0 && S_ISREG(st.st_mode)) {
        if (static_cast<uint64_t>(st.st_size) > maxBytes)
            return ERROR_NOT_ENOUGH_MEMORY_CODE;
        bytes.reserve(static_cast<size_t>(st.st_size));
    }
    uint32_t err = ReadAll(fd.Get(), maxBytes, bytes);
    if (err != 0)
        bytes.clear();
    return err;
}

uint32_t CreateTempFileFor(const std::string& path, std::string& tempPath, int& fd) {
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return CreateTempIn(folder, name, 0666, tempPath, fd);
}

uint32_t CommitTempFile(int fd, const std::string& tempPath, const std::string& path) {
    uint32_t err = 0;
    if (::fdatasync(fd) != 0)
        err = LastOsError();
    if (err == 0 && ::rename(tempPath.c_str(), path.c_str()) != 0)
        err = LastOsError();
    if (err != 0)
        ::unlink(tempPath.c_str());
    return err;
}

uint32_t WriteFileAtomically(const std::string& path, std::string_view bytes) {
    std::string target = ReplacedFile(path);
    std::string temp;
    int rawFd = -1;
    size_t slash = target.rfind('/');
    std::string folder = slash == std::string::npos ? "./" : target.substr(0, slash + 1);
    if (uint32_t err = CreateTempIn(folder, target.substr(slash + 1), 0600, temp, rawFd))
        return err;
    UniqueFd fd(rawFd);
    struct stat st;
    if (::stat(target.c_str(), &st) == 0)
        ::fchmod(fd.Get(), st.st_mode & 07777);
    return WriteAndCommit(std::move(fd), temp, target, bytes);
}

uint32_t WriteFileVia(const std::string& tempFolder, const std::string& path,
                      std::string_view bytes) {
    if (::mkdir(tempFolder.c_str(), 0700) != 0 && errno != EEXIST)
        return LastOsError();
    size_t slash = path.rfind('/');
    std::string temp;
    int rawFd = -1;
    if (uint32_t err = CreateTempIn(tempFolder + "/", path.substr(slash + 1), 0666, temp, rawFd))
        return err;
    UniqueFd fd(rawFd);
    return WriteAndCommit(std::move(fd), temp, path, bytes);
}

bool IsTempFileName(std::string_view name) {
    constexpr std::string_view kMark = ".tmp";
    if (name.size() < 1 + kMark.size() + kTempRandom || name.front() != '.')
        return false;
    std::string_view tail = name.substr(name.size() - kTempRandom);
    std::string_view mark = name.substr(name.size() - kTempRandom - kMark.size(), kMark.size());
    return mark == kMark && std::all_of(tail.begin(), tail.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
           });
}

int RemoveLeftoverTempFiles(const std::string& folder) {
    UniqueFd dirFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dirFd.Valid())
        return 0;
    DIR* dir = ::fdopendir(dirFd.Get());
    if (dir == nullptr)
        return 0;
    const int fd = dirFd.Release(); // closedir closes it
    std::vector<std::string> names;
    while (struct dirent* e = ::readdir(dir)) {
        if (IsTempFileName(e->d_name))
            names.emplace_back(e->d_name);
    }
    int removed = 0;
    for (const std::string& name : names) {
        struct stat st;
        if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            ::unlinkat(fd, name.c_str(), 0) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

} // namespace brindle
