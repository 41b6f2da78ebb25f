// The system calls of the V4L2 backend, and small pieces shared by its
// enumeration, streaming and controls.
#pragma once

#include "server/capture/v4l2_backend.h"

#include <string>
#include <utility>
#include <vector>

#include <poll.h>
#include <sys/types.h>

struct v4lconvert_data;

namespace brindle {

// Every call the backend makes to a video node, in one table: the system
// table calls the kernel and libv4lconvert; a test puts a scripted device in
// its place. Failures return -1 (MAP_FAILED, nullptr) and set errno, as the
// system calls do.
class V4l2Io {
  public:
    virtual ~V4l2Io() = default;

    virtual int Open(const std::string& path, int nFlags) = 0;
    virtual int Close(int fd) = 0;
    virtual int Ioctl(int fd, unsigned long nRequest, void* arg) = 0;
    virtual void* Mmap(size_t nLength, int nProt, int nFlags, int fd, off_t nOffset) = 0;
    virtual int Munmap(void* pData, size_t nLength) = 0;
    virtual int Poll(pollfd* fds, nfds_t nCount, int nTimeout) = 0;
    // A converter whose queries of the device go through this table; the
    // caller frees it with v4lconvert_destroy.
    virtual v4lconvert_data* CreateConverter(int fd) = 0;
};

// The table of the real kernel calls; it holds no state.
V4l2Io& SystemV4l2Io();

// ioctl that retries when a signal interrupts it.
int Xioctl(V4l2Io& io, int fd, unsigned long nRequest, void* arg);

// Opens a video node for capture without blocking on reads.
int OpenVideoDevice(V4l2Io& io, const std::string& path);

// An open video node, closed through its table when dropped.
class Fd {
  public:
    explicit Fd(V4l2Io& io, int fd = -1) : io_(&io), fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { Reset(); }
    int Get() const { return fd_; }
    void Adopt(int fd) {
        Reset();
        fd_ = fd;
    }
    int Release() { return std::exchange(fd_, -1); }
    void Reset() {
        if (fd_ >= 0)
            io_->Close(fd_);
        fd_ = -1;
    }

  private:
    V4l2Io* io_;
    int fd_;
};

// Every convertible (pixel format, size) the device offers, in its order.
std::vector<PixelFormatOffer> ReadOffers(V4l2Io& io, int fd);

} // namespace brindle
