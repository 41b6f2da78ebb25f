// Advisory whole-file locks (flock) between threads and processes.
//
// Each FileLock opens the lock file itself, so two FileLock objects exclude
// each other even inside one process. The lock goes with the object, and
// with the process when it dies, so a crash never leaves a stale lock.
#pragma once

#include "common/unique_fd.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace brindle {

class FileLock {
  public:
    FileLock() = default;
    FileLock(FileLock&&) = default;
    FileLock& operator=(FileLock&&) = default;
    ~FileLock() = default;

    // Waits until the lock on `path` is held; the file is created (owner
    // read/write) when missing. Returns 0 or a mapped system code. A lock
    // already held by this object is released first.
    uint32_t Lock(const std::string& path);

    // As Lock, but returns ERROR_SHARING_VIOLATION_CODE at once when another
    // holder has the lock.
    uint32_t TryLock(const std::string& path);

    void Unlock();
    bool Held() const { return fd_.Valid(); }

  private:
    uint32_t Acquire(const std::string& path, bool wait);
    UniqueFd fd_;
};

// The single-instance lock of a program: "<data folder>/<program>.lock",
// taken without waiting. ERROR_SHARING_VIOLATION_CODE means another instance
// runs on the same data folder.
uint32_t LockSingleInstance(const std::string& dataFolder, std::string_view program,
                            FileLock& lock);

// The lock file that serialises storage uploads and polls across the server
// processes of one user: "BrindleHost - WebDAV" in $XDG_RUNTIME_DIR, or in
// the cache folder when there is no runtime folder. The folder is created
// when missing. Returns 0 and the path, or a mapped system code.
uint32_t WebDavLockPath(std::string& path);

// The folder of the per-user lock files and sockets: the runtime folder,
// else the cache folder; made when missing. Returns 0 or the mapped error.
uint32_t RuntimeLockFolder(std::string& folder);

} // namespace brindle
