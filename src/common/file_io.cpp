#include "common/file_io.h"

#include "common/error_codes.h"
#include "common/os_error.h"
#include "common/unique_fd.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

uint32_t WriteFileAtomically(const std::string& path, std::string_view bytes) {
    std::string target = ReplacedFile(path);
    size_t slash = target.rfind('/');
    std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temp = folder + (folder.back() == '/' ? "" : "/") + "." + name + ".XXXXXX";

    UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd.Valid())
        return LastOsError();
    struct stat st;
    if (::stat(target.c_str(), &st) == 0)
        ::fchmod(fd.Get(), st.st_mode & 07777);
    uint32_t err = WriteAll(fd.Get(), bytes);
    if (err == 0 && ::fdatasync(fd.Get()) != 0)
        err = LastOsError();
    if (err == 0 && ::close(fd.Release()) != 0)
        err = LastOsError();
    if (err == 0 && ::rename(temp.c_str(), target.c_str()) != 0)
        err = LastOsError();
    if (err != 0)
        ::unlink(temp.c_str());
    return err;
}

} // namespace brindle
