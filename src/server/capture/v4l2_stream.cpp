// Streaming and controls of the V4L2 backend.
#include "server/capture/v4l2_backend.h"

#include "common/error_codes.h"
#include "common/os_error.h"
#include "server/capture/v4l2_device.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <numeric>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>

#include <libv4lconvert.h>

namespace brindle {

namespace {

constexpr uint32_t STREAM_BUFFER_COUNT = 4;

struct MappedBuffer {
    void* pData = MAP_FAILED;
    size_t nLength = 0;
};

// Streams from an open device. The capture thread keeps a copy of the
// newest raw frame; converting it happens only when a frame is asked for,
// so a long cycle does not decode thirty frames a second for nothing.
class V4l2Stream : public CaptureStream {
  public:
    explicit V4l2Stream(V4l2Io& io) : io_(io), fd_(io) {}
    ~V4l2Stream() override { Stop(); }

    // Takes the device (format already set) and starts streaming. Returns 0
    // or the errno of the failed step.
    int Open(int fd, const v4l2_format& source);

    uint32_t NewestFrame(CaptureFrame& frame) override;
    uint32_t Stop() override;
    bool Lost() const override { return fLost_; }

  private:
    int MapBuffers();
    void CaptureLoop();
    bool TakeOneBuffer();
    uint32_t ConvertNewest(CaptureFrame& frame);
    uint32_t ConvertRaw();
    void Release();

    V4l2Io& io_;
    Fd fd_;
    int wake_ = -1; // eventfd that ends the capture thread
    v4lconvert_data* convert_ = nullptr;
    v4l2_format source_{};
    v4l2_format target_{};
    std::vector<MappedBuffer> buffers_;
    std::thread thread_;
    bool fStreaming_ = false;
    bool fStopped_ = false;

    std::mutex lock_;             // guards latest_ and fFresh_
    std::vector<uint8_t> latest_; // newest raw frame from the thread
    bool fFresh_ = false;
    std::atomic<bool> fLost_{false}; // the device went away

    std::vector<uint8_t> raw_;       // the raw frame last taken from the thread
    std::vector<uint8_t> converted_; // the last good frame, top-down packed BGR24
    std::vector<uint8_t> scratch_;   // where a frame is converted before it counts
    bool fConverted_ = false;
};

int V4l2Stream::Open(int fd, const v4l2_format& source) {
    fd_.Adopt(fd);
    source_ = source;
    target_ = source;
    target_.fmt.pix.pixelformat = V4L2_PIX_FMT_BGR24;
    target_.fmt.pix.bytesperline = source.fmt.pix.width * 3;
    target_.fmt.pix.sizeimage = target_.fmt.pix.bytesperline * source.fmt.pix.height;
    target_.fmt.pix.field = V4L2_FIELD_NONE;
    wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0)
        return errno;
    convert_ = io_.CreateConverter(fd_.Get());
    if (convert_ == nullptr)
        return ENOMEM;
    if (int nError = MapBuffers(); nError != 0)
        return nError;
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Xioctl(io_, fd_.Get(), VIDIOC_STREAMON, &type) != 0)
        return errno;
    fStreaming_ = true;
    try {
        thread_ = std::thread(&V4l2Stream::CaptureLoop, this);
    } catch (const std::system_error& error) {
        return error.code().value();
    }
    return 0;
}

int V4l2Stream::MapBuffers() {
    v4l2_requestbuffers request{};
    request.count = STREAM_BUFFER_COUNT;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (Xioctl(io_, fd_.Get(), VIDIOC_REQBUFS, &request) != 0)
        return errno;
    if (request.count == 0)
        return ENOMEM;
    buffers_.resize(request.count);
    for (uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        if (Xioctl(io_, fd_.Get(), VIDIOC_QUERYBUF, &buffer) != 0)
            return errno;
        buffers_[i].pData =
            io_.Mmap(buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_.Get(), buffer.m.offset);
        if (buffers_[i].pData == MAP_FAILED)
            return errno;
        buffers_[i].nLength = buffer.length;
        if (Xioctl(io_, fd_.Get(), VIDIOC_QBUF, &buffer) != 0)
            return errno;
    }
    return 0;
}

// Dequeues one filled buffer, keeps its bytes as the newest frame and
// queues it again. False when the device is gone.
bool V4l2Stream::TakeOneBuffer() {
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    if (Xioctl(io_, fd_.Get(), VIDIOC_DQBUF, &buffer) != 0)
        return errno == EAGAIN;
    if (buffer.index < buffers_.size() && (buffer.flags & V4L2_BUF_FLAG_ERROR) == 0 &&
        buffer.bytesused > 0 && buffer.bytesused <= buffers_[buffer.index].nLength) {
        const auto* pData = static_cast<const uint8_t*>(buffers_[buffer.index].pData);
        std::lock_guard<std::mutex> guard(lock_);
        try {
            latest_.assign(pData, pData + buffer.bytesused);
            fFresh_ = true;
        } catch (const std::bad_alloc&) {
            // Short of memory: this frame is skipped, the last one stays.
        }
    }
    return Xioctl(io_, fd_.Get(), VIDIOC_QBUF, &buffer) == 0;
}

void V4l2Stream::CaptureLoop() {
    pollfd fds[2] = {{fd_.Get(), POLLIN, 0}, {wake_, POLLIN, 0}};
    for (;;) {
        if (io_.Poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents != 0)
            return;
        if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 ||
            ((fds[0].revents & POLLIN) != 0 && !TakeOneBuffer()))
            break;
    }
    // Unplugged: the last frame stays and is delivered again.
    fLost_ = true;
}

uint32_t V4l2Stream::NewestFrame(CaptureFrame& frame) {
    try {
        return ConvertNewest(frame);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY_CODE;
    }
}

// A frame that does not convert (a transfer cut short, a damaged JPEG) is
// skipped: the last good frame stays the newest, also after an unplug.
uint32_t V4l2Stream::ConvertNewest(CaptureFrame& frame) {
    if (fStopped_)
        return ERROR_INVALID_PARAMETER_CODE;
    bool fFresh = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (fFresh_) {
            raw_.swap(latest_);
            fFresh_ = false;
            fFresh = true;
        }
    }
    uint32_t nError = fFresh ? ConvertRaw() : 0;
    if (!fConverted_)
        return nError != 0 ? nError : ERROR_TIMEOUT_CODE;
    const int32_t nWidth = int32_t(target_.fmt.pix.width);
    const int32_t nHeight = int32_t(target_.fmt.pix.height);
    const size_t nRow = size_t(nWidth) * 3;
    const size_t nStride = DibStride(nWidth);
    frame.nWidth = nWidth;
    frame.nHeight = nHeight;
    frame.pixels.assign(nStride * size_t(nHeight), 0);
    for (int32_t y = 0; y < nHeight; ++y)
        std::memcpy(frame.pixels.data() + nStride * size_t(nHeight - 1 - y),
                    converted_.data() + nRow * size_t(y), nRow);
    return 0;
}

// Converts raw_ into converted_, which keeps the previous frame when the
// conversion fails.
uint32_t V4l2Stream::ConvertRaw() {
    scratch_.resize(target_.fmt.pix.sizeimage);
    int nBytes = v4lconvert_convert(convert_, &source_, &target_, raw_.data(), int(raw_.size()),
                                    scratch_.data(), int(scratch_.size()));
    if (nBytes < 0 || uint32_t(nBytes) < target_.fmt.pix.sizeimage)
        return ERROR_INVALID_DATA_CODE;
    converted_.swap(scratch_);
    fConverted_ = true;
    return 0;
}

uint32_t V4l2Stream::Stop() {
    if (fStopped_)
        return 0;
    fStopped_ = true;
    if (thread_.joinable()) {
        uint64_t nOne = 1;
        if (write(wake_, &nOne, sizeof nOne) < 0) {
            // The eventfd cannot be full with one write; nothing else to do.
        }
        thread_.join();
    }
    uint32_t nError = 0;
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    // A device that is gone has stopped by itself.
    if (fStreaming_ && Xioctl(io_, fd_.Get(), VIDIOC_STREAMOFF, &type) != 0 && errno != ENODEV)
        nError = LastOsError();
    Release();
    return nError;
}

void V4l2Stream::Release() {
    for (MappedBuffer& buffer : buffers_) {
        if (buffer.pData != MAP_FAILED)
            io_.Munmap(buffer.pData, buffer.nLength);
    }
    buffers_.clear();
    if (convert_ != nullptr)
        v4lconvert_destroy(convert_);
    convert_ = nullptr;
    fd_.Reset();
    if (wake_ >= 0)
        ::close(wake_);
    wake_ = -1;
}

// Asks for a frame interval; drivers without the setting keep their own.
void RequestInterval(V4l2Io& io, int fd, int64_t nInterval) {
    v4l2_streamparm parameters{};
    parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Xioctl(io, fd, VIDIOC_G_PARM, &parameters) != 0 ||
        (parameters.parm.capture.capability & V4L2_CAP_TIMEPERFRAME) == 0)
        return;
    uint64_t nNumerator = uint64_t(nInterval);
    uint64_t nDenominator = 10000000;
    uint64_t nDivisor = std::gcd(nNumerator, nDenominator);
    parameters.parm.capture.timeperframe.numerator = uint32_t(nNumerator / nDivisor);
    parameters.parm.capture.timeperframe.denominator = uint32_t(nDenominator / nDivisor);
    Xioctl(io, fd, VIDIOC_S_PARM, &parameters);
}

// Sets the pixel format and size to capture `wanted` in; a size the device
// does not offer keeps its current one. Returns 0 or an errno.
int SelectFormat(V4l2Io& io, int fd, const CaptureFormat& wanted, v4l2_format& format) {
    format = v4l2_format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Xioctl(io, fd, VIDIOC_G_FMT, &format) != 0)
        return errno;
    std::vector<PixelFormatOffer> offers = ReadOffers(io, fd);
    uint32_t nFourcc = ChoosePixelFormat(offers, wanted.nWidth, wanted.nHeight);
    if (nFourcc != 0) {
        format.fmt.pix.width = uint32_t(wanted.nWidth);
        format.fmt.pix.height = uint32_t(wanted.nHeight);
    } else if (!IsConvertiblePixelFormat(format.fmt.pix.pixelformat)) {
        nFourcc = ChoosePixelFormat(offers, int32_t(format.fmt.pix.width),
                                    int32_t(format.fmt.pix.height));
        if (nFourcc == 0)
            return ENOTSUP;
    }
    if (nFourcc != 0)
        format.fmt.pix.pixelformat = nFourcc;
    format.fmt.pix.field = V4L2_FIELD_ANY;
    if (Xioctl(io, fd, VIDIOC_S_FMT, &format) != 0)
        return errno;
    if (!IsConvertiblePixelFormat(format.fmt.pix.pixelformat) || format.fmt.pix.width == 0 ||
        format.fmt.pix.height == 0)
        return ENOTSUP;
    return 0;
}

} // namespace

uint32_t V4l2Backend::Start(const std::string& devicePath, const CaptureFormat& wanted,
                            bool fMatchInterval, std::unique_ptr<CaptureStream>& stream,
                            std::string& hint) {
    hint.clear();
    Fd fd(*io_, OpenVideoDevice(*io_, devicePath));
    int nError = fd.Get() < 0 ? errno : 0;
    v4l2_format format{};
    if (nError == 0)
        nError = SelectFormat(*io_, fd.Get(), wanted, format);
    if (nError == 0 && fMatchInterval && wanted.nInterval > 0)
        RequestInterval(*io_, fd.Get(), wanted.nInterval);
    auto started = std::make_unique<V4l2Stream>(*io_);
    if (nError == 0)
        nError = started->Open(fd.Release(), format);
    if (nError != 0) {
        hint = StartFailureHint(nError);
        return MapErrno(nError);
    }
    stream = std::move(started);
    return 0;
}

namespace {

ControlType TypeOf(uint32_t nType, bool& fKnown) {
    fKnown = true;
    switch (nType) {
    case V4L2_CTRL_TYPE_INTEGER:
        return ControlType::Integer;
    case V4L2_CTRL_TYPE_BOOLEAN:
        return ControlType::Boolean;
    case V4L2_CTRL_TYPE_MENU:
    case V4L2_CTRL_TYPE_INTEGER_MENU:
        return ControlType::Menu;
    case V4L2_CTRL_TYPE_BUTTON:
        return ControlType::Button;
    default:
        fKnown = false;
        return ControlType::Integer;
    }
}

// Menu entry texts for min..max; an integer menu shows its numbers.
std::vector<std::string> ReadMenu(V4l2Io& io, int fd, const v4l2_queryctrl& query) {
    std::vector<std::string> menu;
    // The range comes from the driver: widened, so that neither its width
    // nor the loop past INT32_MAX can overflow.
    const int64_t nFirst = query.minimum;
    const int64_t nLast = query.maximum;
    if (nLast < nFirst || nLast - nFirst > 1024)
        return menu;
    for (int64_t i = nFirst; i <= nLast; ++i) {
        v4l2_querymenu entry{};
        entry.id = query.id;
        entry.index = uint32_t(i);
        if (Xioctl(io, fd, VIDIOC_QUERYMENU, &entry) != 0)
            menu.emplace_back();
        else if (query.type == V4L2_CTRL_TYPE_INTEGER_MENU)
            menu.push_back(std::to_string(entry.value));
        else
            menu.emplace_back(
                reinterpret_cast<const char*>(entry.name),
                strnlen(reinterpret_cast<const char*>(entry.name), sizeof entry.name));
    }
    return menu;
}

CaptureControl ReadControl(V4l2Io& io, int fd, const v4l2_queryctrl& query, ControlType type) {
    CaptureControl control;
    control.nId = query.id;
    control.name.assign(reinterpret_cast<const char*>(query.name),
                        strnlen(reinterpret_cast<const char*>(query.name), sizeof query.name));
    control.type = type;
    control.nMinimum = query.minimum;
    control.nMaximum = query.maximum;
    control.nStep = query.step;
    control.nDefault = query.default_value;
    control.nFlags = query.flags;
    if (type == ControlType::Menu)
        control.menu = ReadMenu(io, fd, query);
    v4l2_control value{};
    value.id = query.id;
    if (type != ControlType::Button && (query.flags & V4L2_CTRL_FLAG_WRITE_ONLY) == 0 &&
        Xioctl(io, fd, VIDIOC_G_CTRL, &value) == 0)
        control.nValue = value.value;
    return control;
}

} // namespace

uint32_t V4l2Backend::ListControls(const std::string& devicePath,
                                   std::vector<CaptureControl>& controls) {
    Fd fd(*io_, OpenVideoDevice(*io_, devicePath));
    if (fd.Get() < 0)
        return LastOsError();
    std::map<uint32_t, std::string> classNames;
    std::vector<CaptureControl> found;
    v4l2_queryctrl query{};
    query.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    uint32_t nLastId = 0;
    // Each answer must name a later control; a driver that repeats one
    // would otherwise keep this loop going for ever.
    while (Xioctl(*io_, fd.Get(), VIDIOC_QUERYCTRL, &query) == 0 && query.id > nLastId) {
        uint32_t nId = nLastId = query.id;
        bool fKnown = false;
        ControlType type = TypeOf(query.type, fKnown);
        if (query.type == V4L2_CTRL_TYPE_CTRL_CLASS)
            classNames[V4L2_CTRL_ID2CLASS(nId)].assign(
                reinterpret_cast<const char*>(query.name),
                strnlen(reinterpret_cast<const char*>(query.name), sizeof query.name));
        else if (fKnown && (query.flags & V4L2_CTRL_FLAG_DISABLED) == 0)
            found.push_back(ReadControl(*io_, fd.Get(), query, type));
        query = v4l2_queryctrl{};
        query.id = nId | V4L2_CTRL_FLAG_NEXT_CTRL;
    }
    for (CaptureControl& control : found) {
        auto name = classNames.find(V4L2_CTRL_ID2CLASS(control.nId));
        control.className = name != classNames.end() ? name->second : "User Controls";
    }
    controls = std::move(found);
    return 0;
}

uint32_t V4l2Backend::SetControl(const std::string& devicePath, uint32_t nId, int32_t nValue) {
    Fd fd(*io_, OpenVideoDevice(*io_, devicePath));
    if (fd.Get() < 0)
        return LastOsError();
    v4l2_control control{};
    control.id = nId;
    control.value = nValue;
    return Xioctl(*io_, fd.Get(), VIDIOC_S_CTRL, &control) == 0 ? 0 : LastOsError();
}

} // namespace brindle
