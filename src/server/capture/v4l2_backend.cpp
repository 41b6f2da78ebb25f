#include "server/capture/v4l2_backend.h"

#include "server/capture/v4l2_device.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <libv4lconvert.h>

namespace brindle {

namespace {

// Text fields of the settings hold at most 259 bytes; cut at a character
// boundary so that a UTF-8 name stays valid.
std::string CutText(const char* text, size_t nMaxField) {
    size_t n = strnlen(text, nMaxField);
    std::string out(text, n);
    if (out.size() > 259) {
        size_t nCut = 259;
        while (nCut > 0 && (static_cast<unsigned char>(out[nCut]) & 0xC0) == 0x80)
            --nCut;
        out.resize(nCut);
    }
    return out;
}

} // namespace

namespace {

class SystemIo : public V4l2Io {
  public:
    int Open(const std::string& path, int nFlags) override { return ::open(path.c_str(), nFlags); }
    int Close(int fd) override { return ::close(fd); }
    int Ioctl(int fd, unsigned long nRequest, void* arg) override {
        return ::ioctl(fd, nRequest, arg);
    }
    void* Mmap(size_t nLength, int nProt, int nFlags, int fd, off_t nOffset) override {
        return ::mmap(nullptr, nLength, nProt, nFlags, fd, nOffset);
    }
    int Munmap(void* pData, size_t nLength) override { return ::munmap(pData, nLength); }
    int Poll(pollfd* fds, nfds_t nCount, int nTimeout) override {
        return ::poll(fds, nCount, nTimeout);
    }
    v4lconvert_data* CreateConverter(int fd) override { return v4lconvert_create(fd); }
};

} // namespace

V4l2Io& SystemV4l2Io() {
    static SystemIo io;
    return io;
}

int Xioctl(V4l2Io& io, int fd, unsigned long nRequest, void* arg) {
    int r;
    do {
        r = io.Ioctl(fd, nRequest, arg);
    } while (r == -1 && errno == EINTR);
    return r;
}

int OpenVideoDevice(V4l2Io& io, const std::string& path) {
    return io.Open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
}

V4l2Backend::V4l2Backend(std::string devRoot, V4l2Io* io)
    : devRoot_(std::move(devRoot)), io_(io != nullptr ? io : &SystemV4l2Io()) {}

bool IsVideoCaptureNode(const v4l2_capability& caps) {
    uint32_t nCaps =
        (caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? caps.device_caps : caps.capabilities;
    return (nCaps & V4L2_CAP_VIDEO_CAPTURE) != 0 && (nCaps & V4L2_CAP_STREAMING) != 0;
}

std::string StableDevicePath(const std::string& node, const std::string& devRoot) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path target = fs::canonical(node, error);
    if (error)
        return node;
    for (const char* folder : {"v4l/by-id", "v4l/by-path"}) {
        std::vector<fs::path> links;
        fs::directory_iterator it(fs::path(devRoot) / folder, error);
        for (; !error && it != fs::directory_iterator(); it.increment(error)) {
            std::error_code linkError;
            if (fs::canonical(it->path(), linkError) == target && !linkError)
                links.push_back(it->path());
        }
        error.clear();
        if (!links.empty())
            return std::min_element(links.begin(), links.end())->string();
    }
    return node;
}

int64_t IntervalFromFraction(const v4l2_fract& fraction) {
    if (fraction.denominator == 0)
        return 0;
    return static_cast<int64_t>(fraction.numerator) * 10000000 / fraction.denominator;
}

std::vector<std::pair<int32_t, int32_t>> SizesWithin(const v4l2_frmsize_stepwise& range) {
    static const std::pair<int32_t, int32_t> kCommon[] = {
        {3840, 2160}, {2592, 1944}, {2560, 1440}, {1920, 1080}, {1600, 1200},
        {1280, 1024}, {1280, 960},  {1280, 720},  {1024, 768},  {800, 600},
        {640, 480},   {352, 288},   {320, 240},   {176, 144},   {160, 120},
    };
    auto onStep = [](int32_t n, uint32_t nMin, uint32_t nMax, uint32_t nStep) {
        if (n < 0 || uint32_t(n) < nMin || uint32_t(n) > nMax)
            return false;
        return nStep <= 1 || (uint32_t(n) - nMin) % nStep == 0;
    };
    std::vector<std::pair<int32_t, int32_t>> sizes;
    for (const auto& size : kCommon) {
        if (onStep(size.first, range.min_width, range.max_width, range.step_width) &&
            onStep(size.second, range.min_height, range.max_height, range.step_height))
            sizes.push_back(size);
    }
    return sizes;
}

std::vector<int64_t> IntervalsWithin(const v4l2_frmival_stepwise& range) {
    static const int64_t kRates[] = {60, 50, 30, 25, 20, 15, 10, 5, 1};
    int64_t nMin = IntervalFromFraction(range.min);
    int64_t nMax = IntervalFromFraction(range.max);
    std::vector<int64_t> intervals;
    for (int64_t nRate : kRates) {
        int64_t nInterval = 10000000 / nRate;
        if (nInterval >= nMin && nInterval <= nMax)
            intervals.push_back(nInterval);
    }
    return intervals;
}

bool IsCompressedPixelFormat(uint32_t nFourcc) {
    return nFourcc == V4L2_PIX_FMT_MJPEG || nFourcc == V4L2_PIX_FMT_JPEG;
}

bool IsConvertiblePixelFormat(uint32_t nFourcc) {
    static const uint32_t kFormats[] = {
        V4L2_PIX_FMT_MJPEG,  V4L2_PIX_FMT_JPEG,   V4L2_PIX_FMT_YUYV,   V4L2_PIX_FMT_YVYU,
        V4L2_PIX_FMT_UYVY,   V4L2_PIX_FMT_NV12,   V4L2_PIX_FMT_NV21,   V4L2_PIX_FMT_YUV420,
        V4L2_PIX_FMT_YVU420, V4L2_PIX_FMT_RGB24,  V4L2_PIX_FMT_BGR24,  V4L2_PIX_FMT_RGB565,
        V4L2_PIX_FMT_GREY,   V4L2_PIX_FMT_SBGGR8, V4L2_PIX_FMT_SGBRG8, V4L2_PIX_FMT_SGRBG8,
        V4L2_PIX_FMT_SRGGB8,
    };
    return std::find(std::begin(kFormats), std::end(kFormats), nFourcc) != std::end(kFormats);
}

uint32_t ChoosePixelFormat(const std::vector<PixelFormatOffer>& offers, int32_t nWidth,
                           int32_t nHeight) {
    uint32_t nChosen = 0;
    for (const PixelFormatOffer& offer : offers) {
        if (offer.nWidth != nWidth || offer.nHeight != nHeight ||
            !IsConvertiblePixelFormat(offer.nFourcc))
            continue;
        if (IsCompressedPixelFormat(offer.nFourcc))
            return offer.nFourcc;
        if (nChosen == 0)
            nChosen = offer.nFourcc;
    }
    return nChosen;
}

std::string StartFailureHint(int nErrno) {
    if (nErrno == ENOSPC)
        return "USBの帯域が不足しています。解像度の小さい形式を選ぶか、"
               "カメラを別のUSBポート(別のコントローラ)に接続してください。";
    if (nErrno == EBUSY)
        return "カメラは他のプログラムが使用中です。";
    return std::string();
}

namespace {

// No camera lists this many formats, sizes or rates; a driver that never
// ends a list is cut off here instead of hanging the enumeration.
constexpr uint32_t ENUM_ENTRY_MAX = 256;

// The sizes a device offers for one pixel format.
std::vector<std::pair<int32_t, int32_t>> ReadSizes(V4l2Io& io, int fd, uint32_t nFourcc) {
    std::vector<std::pair<int32_t, int32_t>> sizes;
    v4l2_frmsizeenum size{};
    size.pixel_format = nFourcc;
    for (size.index = 0;
         size.index < ENUM_ENTRY_MAX && Xioctl(io, fd, VIDIOC_ENUM_FRAMESIZES, &size) == 0;
         ++size.index) {
        if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
            sizes.emplace_back(int32_t(size.discrete.width), int32_t(size.discrete.height));
            continue;
        }
        auto within = SizesWithin(size.stepwise);
        sizes.insert(sizes.end(), within.begin(), within.end());
        break; // a stepwise range is the only entry
    }
    return sizes;
}

std::vector<int64_t> ReadIntervals(V4l2Io& io, int fd, uint32_t nFourcc, int32_t nWidth,
                                   int32_t nHeight) {
    std::vector<int64_t> intervals;
    v4l2_frmivalenum interval{};
    interval.pixel_format = nFourcc;
    interval.width = uint32_t(nWidth);
    interval.height = uint32_t(nHeight);
    for (interval.index = 0; interval.index < ENUM_ENTRY_MAX &&
                             Xioctl(io, fd, VIDIOC_ENUM_FRAMEINTERVALS, &interval) == 0;
         ++interval.index) {
        if (interval.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            intervals.push_back(IntervalFromFraction(interval.discrete));
            continue;
        }
        intervals = IntervalsWithin(interval.stepwise);
        break;
    }
    if (intervals.empty())
        intervals.push_back(0);
    return intervals;
}

} // namespace

std::vector<PixelFormatOffer> ReadOffers(V4l2Io& io, int fd) {
    std::vector<PixelFormatOffer> offers;
    v4l2_fmtdesc format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (format.index = 0;
         format.index < ENUM_ENTRY_MAX && Xioctl(io, fd, VIDIOC_ENUM_FMT, &format) == 0;
         ++format.index) {
        if (!IsConvertiblePixelFormat(format.pixelformat))
            continue;
        for (const auto& size : ReadSizes(io, fd, format.pixelformat))
            offers.push_back({format.pixelformat, size.first, size.second});
    }
    return offers;
}

namespace {

std::vector<CaptureFormat> ReadFormats(V4l2Io& io, int fd) {
    std::vector<CaptureFormat> formats;
    for (const PixelFormatOffer& offer : ReadOffers(io, fd)) {
        for (int64_t nInterval : ReadIntervals(io, fd, offer.nFourcc, offer.nWidth, offer.nHeight))
            formats.push_back({offer.nWidth, offer.nHeight, nInterval});
    }
    return formats;
}

// Video nodes in number order: video0, video1, ..., video10.
std::vector<std::string> VideoNodes(const std::string& devRoot) {
    std::vector<std::pair<long, std::string>> nodes;
    std::error_code error;
    std::filesystem::directory_iterator it(devRoot, error);
    for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        std::string name = it->path().filename().string();
        if (name.rfind("video", 0) != 0 || name.size() == 5 || name.size() > 12 ||
            name.find_first_not_of("0123456789", 5) != std::string::npos)
            continue;
        nodes.emplace_back(std::strtol(name.c_str() + 5, nullptr, 10), it->path().string());
    }
    std::sort(nodes.begin(), nodes.end());
    std::vector<std::string> paths;
    for (auto& node : nodes)
        paths.push_back(std::move(node.second));
    return paths;
}

} // namespace

uint32_t V4l2Backend::Enumerate(std::vector<CaptureDeviceInfo>& devices) {
    for (const std::string& node : VideoNodes(devRoot_)) {
        Fd fd(*io_, OpenVideoDevice(*io_, node));
        if (fd.Get() < 0)
            continue;
        v4l2_capability caps{};
        if (Xioctl(*io_, fd.Get(), VIDIOC_QUERYCAP, &caps) != 0 || !IsVideoCaptureNode(caps))
            continue;
        CaptureDeviceInfo device;
        device.friendlyName = CutText(reinterpret_cast<const char*>(caps.card), sizeof caps.card);
        device.devicePath = StableDevicePath(node, devRoot_);
        device.formats = ReadFormats(*io_, fd.Get());
        devices.push_back(std::move(device));
    }
    return 0;
}

bool V4l2Backend::Handles(const std::string& devicePath) const {
    std::string prefix = devRoot_ + "/";
    return devicePath.compare(0, prefix.size(), prefix) == 0;
}

} // namespace brindle
