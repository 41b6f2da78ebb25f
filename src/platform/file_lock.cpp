#include "platform/file_lock.h"

#include "common/error_codes.h"
#include "common/os_error.h"
#include "platform/xdg.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>

namespace brindle {

uint32_t FileLock::Acquire(const std::string& path, bool wait) {
    Unlock();
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd.Valid())
        return LastOsError();
    for (;;) {
        if (::flock(fd.Get(), LOCK_EX | (wait ? 0 : LOCK_NB)) == 0)
            break;
        if (errno == EINTR)
            continue;
        if (errno == EWOULDBLOCK)
            return ERROR_SHARING_VIOLATION_CODE;
        return LastOsError();
    }
    fd_ = std::move(fd);
    return 0;
}

uint32_t FileLock::Lock(const std::string& path) {
    return Acquire(path, true);
}

uint32_t FileLock::TryLock(const std::string& path) {
    return Acquire(path, false);
}

void FileLock::Unlock() {
    fd_.Reset();
} // closing the descriptor releases the lock

uint32_t LockSingleInstance(const std::string& dataFolder, std::string_view program,
                            FileLock& lock) {
    return lock.TryLock(dataFolder + "/" + std::string(program) + ".lock");
}

uint32_t RuntimeLockFolder(std::string& folder) {
    folder = XdgRuntimeDir();
    if (folder.empty())
        folder = XdgCacheHome();
    if (folder.empty())
        return ERROR_PATH_NOT_FOUND_CODE;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return ec ? MapErrno(ec.value()) : 0;
}

uint32_t WebDavLockPath(std::string& path) {
    std::string folder;
    uint32_t rc = RuntimeLockFolder(folder);
    if (rc == 0)
        path = folder + "/BrindleHost - WebDAV";
    return rc;
}

} // namespace brindle
