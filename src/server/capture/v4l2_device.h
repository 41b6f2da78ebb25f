// Small pieces shared by the V4L2 enumeration, streaming and controls.
#pragma once

#include "server/capture/v4l2_backend.h"

#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

namespace brindle {

// ioctl that retries when a signal interrupts it.
int Xioctl(int fd, unsigned long request, void* arg);

// Opens a video node for capture without blocking on reads.
int OpenVideoDevice(const std::string& path);

class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { Reset(); }
    int Get() const { return fd_; }
    void Adopt(int fd) {
        Reset();
        fd_ = fd;
    }
    int Release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_;
};

// Every convertible (pixel format, size) the device offers, in its order.
std::vector<PixelFormatOffer> ReadOffers(int fd);

} // namespace brindle
