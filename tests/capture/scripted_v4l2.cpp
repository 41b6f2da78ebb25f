#include "scripted_v4l2.h"

#include <libv4l-plugin.h>
#include <libv4lconvert.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>

namespace brindle::test {

namespace {

constexpr uint32_t BUFFER_MAX = 8;
constexpr uint32_t OFFSET_STEP = 1u << 20; // mmap offset of buffer i: i * OFFSET_STEP

int Fail(int nErrno) {
    errno = nErrno;
    return -1;
}

void CopyText(uint8_t* target, size_t nSize, const std::string& text) {
    std::memset(target, 0, nSize);
    std::memcpy(target, text.data(), std::min(text.size(), nSize - 1));
}

bool Within(uint32_t n, uint32_t nMin, uint32_t nMax, uint32_t nStep) {
    return n >= nMin && n <= nMax && (nStep <= 1 || (n - nMin) % nStep == 0);
}

const ScriptedV4l2::Offer* FindOffer(const ScriptedV4l2::Camera& camera, uint32_t nFourcc) {
    for (const ScriptedV4l2::Offer& offer : camera.offers) {
        if (offer.nFourcc == nFourcc)
            return &offer;
    }
    return nullptr;
}

bool Offers(const ScriptedV4l2::Offer& offer, uint32_t nWidth, uint32_t nHeight) {
    if (offer.sizeRange) {
        const v4l2_frmsize_stepwise& r = *offer.sizeRange;
        return Within(nWidth, r.min_width, r.max_width, r.step_width) &&
               Within(nHeight, r.min_height, r.max_height, r.step_height);
    }
    return std::find(offer.sizes.begin(), offer.sizes.end(), std::make_pair(nWidth, nHeight)) !=
           offer.sizes.end();
}

// The size a driver settles on for a wanted one: the nearest it offers.
std::pair<uint32_t, uint32_t> NearestSize(const ScriptedV4l2::Offer& offer, uint32_t nWidth,
                                          uint32_t nHeight) {
    if (offer.sizeRange) {
        const v4l2_frmsize_stepwise& r = *offer.sizeRange;
        auto fit = [](uint32_t n, uint32_t nMin, uint32_t nMax, uint32_t nStep) {
            n = std::clamp(n, nMin, nMax);
            return nStep <= 1 ? n : nMin + (n - nMin) / nStep * nStep;
        };
        return {fit(nWidth, r.min_width, r.max_width, r.step_width),
                fit(nHeight, r.min_height, r.max_height, r.step_height)};
    }
    auto distance = [&](const std::pair<uint32_t, uint32_t>& size) {
        return std::labs(long(size.first) - long(nWidth)) +
               std::labs(long(size.second) - long(nHeight));
    };
    return *std::min_element(
        offer.sizes.begin(), offer.sizes.end(),
        [&](const auto& a, const auto& b) { return distance(a) < distance(b); });
}

v4l2_pix_format PixFormat(uint32_t nFourcc, uint32_t nWidth, uint32_t nHeight) {
    v4l2_pix_format pix{};
    pix.width = nWidth;
    pix.height = nHeight;
    pix.pixelformat = nFourcc;
    pix.field = V4L2_FIELD_NONE;
    pix.bytesperline = nFourcc == V4L2_PIX_FMT_YUYV ? nWidth * 2 : 0;
    pix.sizeimage = nWidth * nHeight * 2; // a compressed frame's upper bound, as UVC states it
    pix.colorspace = V4L2_COLORSPACE_SRGB;
    return pix;
}

ScriptedV4l2::Control* FindControl(ScriptedV4l2::Camera& camera, uint32_t nId) {
    for (ScriptedV4l2::Control& control : camera.controls) {
        if (control.query.id == nId)
            return &control;
    }
    return nullptr;
}

} // namespace

ScriptedV4l2::ScriptedV4l2() = default;

ScriptedV4l2::~ScriptedV4l2() {
    for (const auto& [fd, path] : open_)
        ::close(fd);
}

void ScriptedV4l2::AddCamera(const std::string& node, Camera camera) {
    std::lock_guard<std::mutex> guard(lock_);
    cameras_[node].camera = std::move(camera);
}

bool ScriptedV4l2::DeliverFrame(const std::string& path, const std::vector<uint8_t>& bytes,
                                uint32_t nFlags) {
    std::lock_guard<std::mutex> guard(lock_);
    Node& node = cameras_.at(path);
    if (!node.camera.fStreaming || node.queued.empty())
        return false;
    uint32_t nIndex = node.queued.front();
    node.queued.pop_front();
    Buffer& buffer = *node.buffers[nIndex];
    size_t nBytes = std::min(bytes.size(), buffer.memory.size());
    std::memcpy(buffer.memory.data(), bytes.data(), nBytes);
    buffer.nBytesUsed = uint32_t(nBytes);
    buffer.nFlags = nFlags;
    node.done.push_back(nIndex);
    Wake(node);
    return true;
}

void ScriptedV4l2::SpuriousWake(const std::string& path) {
    std::lock_guard<std::mutex> guard(lock_);
    Node& node = cameras_.at(path);
    node.camera.fSpuriousWake = true;
    Wake(node);
}

void ScriptedV4l2::Unplug(const std::string& path) {
    std::lock_guard<std::mutex> guard(lock_);
    Node& node = cameras_.at(path);
    node.camera.fUnplugged = true;
    Wake(node);
}

void ScriptedV4l2::Wake(Node& node) {
    uint64_t nOne = 1;
    for (int fd : node.fds) {
        if (write(fd, &nOne, sizeof nOne) < 0) {
            // A full counter wakes the reader all the same.
        }
    }
}

ScriptedV4l2::Node* ScriptedV4l2::NodeOf(int fd) {
    auto it = open_.find(fd);
    return it == open_.end() ? nullptr : &cameras_.at(it->second);
}

int ScriptedV4l2::Open(const std::string& path, int) {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = cameras_.find(path);
    if (it == cameras_.end() || it->second.camera.fUnplugged)
        return Fail(ENOENT);
    if (it->second.camera.nOpenError != 0)
        return Fail(it->second.camera.nOpenError);
    int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0)
        return -1;
    open_[fd] = path;
    it->second.fds.push_back(fd);
    ++it->second.camera.nOpen;
    return fd;
}

int ScriptedV4l2::Close(int fd) {
    std::lock_guard<std::mutex> guard(lock_);
    Node* node = NodeOf(fd);
    if (node == nullptr)
        return Fail(EBADF);
    // The queue belongs to the descriptor that asked for buffers; closing it
    // stops streaming. Mapped memory stays until it is unmapped.
    if (node->owner == fd) {
        node->camera.fStreaming = false;
        node->queued.clear();
        node->done.clear();
        node->owner = -1;
        if (node->camera.nMapped == 0)
            node->buffers.clear();
    }
    std::erase(node->fds, fd);
    --node->camera.nOpen;
    open_.erase(fd);
    ::close(fd);
    return 0;
}

int ScriptedV4l2::Ioctl(int fd, unsigned long nRequest, void* arg) {
    std::lock_guard<std::mutex> guard(lock_);
    Node* node = NodeOf(fd);
    if (node == nullptr)
        return Fail(EBADF);
    if (node->camera.fUnplugged)
        return Fail(ENODEV);
    return DeviceIoctl(*node, fd, nRequest, arg);
}

int ScriptedV4l2::DeviceIoctl(Node& node, int fd, unsigned long nRequest, void* arg) {
    switch (nRequest) {
    case VIDIOC_QUERYCAP: {
        auto& caps = *static_cast<v4l2_capability*>(arg);
        caps = v4l2_capability{};
        CopyText(caps.driver, sizeof caps.driver, "uvcvideo");
        CopyText(caps.card, sizeof caps.card, node.camera.card);
        CopyText(caps.bus_info, sizeof caps.bus_info, "usb-0000:00:14.0-1");
        caps.version = 0x060100;
        caps.device_caps =
            (node.camera.fMetadata ? V4L2_CAP_META_CAPTURE : V4L2_CAP_VIDEO_CAPTURE) |
            V4L2_CAP_STREAMING | V4L2_CAP_EXT_PIX_FORMAT;
        caps.capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING |
                            V4L2_CAP_EXT_PIX_FORMAT | V4L2_CAP_DEVICE_CAPS;
        return 0;
    }
    case VIDIOC_ENUM_FMT:
    case VIDIOC_ENUM_FRAMESIZES:
    case VIDIOC_ENUM_FRAMEINTERVALS:
    case VIDIOC_G_FMT:
    case VIDIOC_S_FMT:
    case VIDIOC_TRY_FMT:
    case VIDIOC_G_PARM:
    case VIDIOC_S_PARM:
        return FormatIoctl(node, fd, nRequest, arg);
    case VIDIOC_REQBUFS:
    case VIDIOC_QUERYBUF:
    case VIDIOC_QBUF:
    case VIDIOC_DQBUF:
    case VIDIOC_STREAMON:
    case VIDIOC_STREAMOFF:
        return BufferIoctl(node, fd, nRequest, arg);
    case VIDIOC_QUERYCTRL:
    case VIDIOC_QUERYMENU:
    case VIDIOC_G_CTRL:
    case VIDIOC_S_CTRL:
        return ControlIoctl(node, nRequest, arg);
    default:
        return Fail(ENOTTY);
    }
}

int ScriptedV4l2::FormatIoctl(Node& node, int fd, unsigned long nRequest, void* arg) {
    Camera& camera = node.camera;
    switch (nRequest) {
    case VIDIOC_ENUM_FMT: {
        auto& desc = *static_cast<v4l2_fmtdesc*>(arg);
        if (desc.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || desc.index >= camera.offers.size())
            return Fail(EINVAL);
        uint32_t nFourcc = camera.offers[desc.index].nFourcc;
        desc.pixelformat = nFourcc;
        desc.flags = nFourcc == V4L2_PIX_FMT_MJPEG ? V4L2_FMT_FLAG_COMPRESSED : 0;
        CopyText(desc.description, sizeof desc.description,
                 nFourcc == V4L2_PIX_FMT_MJPEG ? "Motion-JPEG" : "YUYV 4:2:2");
        return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
        auto& size = *static_cast<v4l2_frmsizeenum*>(arg);
        const Offer* offer = FindOffer(camera, size.pixel_format);
        if (offer == nullptr)
            return Fail(EINVAL);
        if (offer->sizeRange) {
            if (size.index != 0)
                return Fail(EINVAL);
            size.type = V4L2_FRMSIZE_TYPE_STEPWISE;
            size.stepwise = *offer->sizeRange;
            return 0;
        }
        if (size.index >= offer->sizes.size())
            return Fail(EINVAL);
        size.type = V4L2_FRMSIZE_TYPE_DISCRETE;
        size.discrete = {offer->sizes[size.index].first, offer->sizes[size.index].second};
        return 0;
    }
    case VIDIOC_ENUM_FRAMEINTERVALS: {
        auto& interval = *static_cast<v4l2_frmivalenum*>(arg);
        const Offer* offer = FindOffer(camera, interval.pixel_format);
        if (offer == nullptr || !Offers(*offer, interval.width, interval.height))
            return Fail(EINVAL);
        if (offer->intervalRange) {
            if (interval.index != 0)
                return Fail(EINVAL);
            interval.type = V4L2_FRMIVAL_TYPE_STEPWISE;
            interval.stepwise = *offer->intervalRange;
            return 0;
        }
        if (interval.index >= offer->intervals.size())
            return Fail(EINVAL);
        interval.type = V4L2_FRMIVAL_TYPE_DISCRETE;
        interval.discrete = offer->intervals[interval.index];
        return 0;
    }
    case VIDIOC_G_FMT:
    case VIDIOC_S_FMT:
    case VIDIOC_TRY_FMT: {
        auto& format = *static_cast<v4l2_format*>(arg);
        if (format.type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
            return Fail(EINVAL);
        if (nRequest == VIDIOC_G_FMT) {
            format.fmt.pix = camera.format;
            return 0;
        }
        // Another descriptor holding buffers keeps the format (vb2 is busy).
        if (nRequest == VIDIOC_S_FMT && node.owner >= 0 &&
            (node.owner != fd || !node.buffers.empty()))
            return Fail(EBUSY);
        const Offer* offer = FindOffer(camera, format.fmt.pix.pixelformat);
        if (offer == nullptr)
            offer = &camera.offers.front();
        auto size = NearestSize(*offer, format.fmt.pix.width, format.fmt.pix.height);
        format.fmt.pix = PixFormat(offer->nFourcc, size.first, size.second);
        if (nRequest == VIDIOC_S_FMT)
            camera.format = format.fmt.pix;
        return 0;
    }
    case VIDIOC_G_PARM:
    case VIDIOC_S_PARM: {
        auto& parameters = *static_cast<v4l2_streamparm*>(arg);
        if (parameters.type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
            return Fail(EINVAL);
        if (nRequest == VIDIOC_S_PARM)
            camera.timePerFrame = parameters.parm.capture.timeperframe;
        parameters.parm.capture = v4l2_captureparm{};
        parameters.parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
        parameters.parm.capture.timeperframe = camera.timePerFrame;
        return 0;
    }
    }
    return Fail(ENOTTY);
}

int ScriptedV4l2::BufferIoctl(Node& node, int fd, unsigned long nRequest, void* arg) {
    Camera& camera = node.camera;
    if (nRequest == VIDIOC_STREAMON || nRequest == VIDIOC_STREAMOFF) {
        if (*static_cast<v4l2_buf_type*>(arg) != V4L2_BUF_TYPE_VIDEO_CAPTURE)
            return Fail(EINVAL);
        if (node.owner != fd)
            return Fail(EBUSY);
        if (nRequest == VIDIOC_STREAMON) {
            if (camera.nStreamOnError != 0)
                return Fail(camera.nStreamOnError);
            if (node.buffers.empty())
                return Fail(EINVAL);
            camera.fStreaming = true;
        } else {
            camera.fStreaming = false;
            node.queued.clear();
            node.done.clear();
            for (auto& buffer : node.buffers)
                buffer->fQueued = false;
        }
        Wake(node);
        return 0;
    }
    if (nRequest == VIDIOC_REQBUFS) {
        auto& request = *static_cast<v4l2_requestbuffers*>(arg);
        if (request.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || request.memory != V4L2_MEMORY_MMAP)
            return Fail(EINVAL);
        if ((node.owner >= 0 && node.owner != fd) || camera.fStreaming || camera.nMapped != 0)
            return Fail(EBUSY);
        node.buffers.clear();
        node.queued.clear();
        node.done.clear();
        request.count = std::min(request.count, BUFFER_MAX);
        for (uint32_t i = 0; i < request.count; ++i) {
            node.buffers.push_back(std::make_unique<Buffer>());
            node.buffers.back()->memory.resize(camera.format.sizeimage);
        }
        node.owner = request.count != 0 ? fd : -1;
        return 0;
    }
    auto& buffer = *static_cast<v4l2_buffer*>(arg);
    if (buffer.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || buffer.memory != V4L2_MEMORY_MMAP)
        return Fail(EINVAL);
    if (node.owner != fd)
        return Fail(EBUSY);
    if (nRequest == VIDIOC_DQBUF) {
        if (!camera.fStreaming)
            return Fail(EINVAL);
        if (node.done.empty()) {
            ++camera.nEagain;
            return Fail(EAGAIN);
        }
        buffer.index = node.done.front();
        node.done.pop_front();
    }
    if (buffer.index >= node.buffers.size())
        return Fail(EINVAL);
    Buffer& own = *node.buffers[buffer.index];
    if (nRequest == VIDIOC_QBUF) {
        if (own.fQueued)
            return Fail(EINVAL);
        own.fQueued = true;
        node.queued.push_back(buffer.index);
        camera.nQueuedAgain += camera.fStreaming;
        return 0;
    }
    if (nRequest == VIDIOC_DQBUF) {
        own.fQueued = false;
        buffer.bytesused = own.nBytesUsed;
        buffer.flags = own.nFlags;
        buffer.field = V4L2_FIELD_NONE;
        buffer.sequence = node.nSequence++;
    }
    buffer.length = uint32_t(own.memory.size());
    buffer.m.offset = buffer.index * OFFSET_STEP;
    buffer.flags |=
        (own.fMapped ? V4L2_BUF_FLAG_MAPPED : 0) | (own.fQueued ? V4L2_BUF_FLAG_QUEUED : 0);
    return 0;
}

int ScriptedV4l2::ControlIoctl(Node& node, unsigned long nRequest, void* arg) {
    Camera& camera = node.camera;
    if (nRequest == VIDIOC_QUERYCTRL) {
        auto& query = *static_cast<v4l2_queryctrl*>(arg);
        const uint32_t nNextFlags = V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND;
        const Control* found = nullptr;
        if ((query.id & V4L2_CTRL_FLAG_NEXT_CTRL) != 0) {
            uint32_t nAfter = query.id & ~nNextFlags;
            for (const Control& control : camera.controls) {
                if (control.query.id > nAfter &&
                    (found == nullptr || control.query.id < found->query.id))
                    found = &control;
            }
        } else {
            found = FindControl(camera, query.id);
        }
        if (found == nullptr)
            return Fail(EINVAL);
        query = found->query;
        return 0;
    }
    if (nRequest == VIDIOC_QUERYMENU) {
        auto& entry = *static_cast<v4l2_querymenu*>(arg);
        const Control* control = FindControl(camera, entry.id);
        if (control == nullptr || entry.index >= control->menu.size() ||
            int64_t(entry.index) < control->query.minimum ||
            int64_t(entry.index) > control->query.maximum || control->menu[entry.index].empty())
            return Fail(EINVAL);
        if (control->query.type == V4L2_CTRL_TYPE_INTEGER_MENU)
            entry.value = std::strtoll(control->menu[entry.index].c_str(), nullptr, 10);
        else
            CopyText(entry.name, sizeof entry.name, control->menu[entry.index]);
        return 0;
    }
    auto& value = *static_cast<v4l2_control*>(arg);
    Control* control = FindControl(camera, value.id);
    if (control == nullptr || control->query.type == V4L2_CTRL_TYPE_CTRL_CLASS)
        return Fail(EINVAL);
    if (nRequest == VIDIOC_G_CTRL) {
        value.value = control->nValue;
        return 0;
    }
    const v4l2_queryctrl& query = control->query;
    if ((query.flags & V4L2_CTRL_FLAG_READ_ONLY) != 0)
        return Fail(EACCES);
    bool fMenu = query.type == V4L2_CTRL_TYPE_MENU || query.type == V4L2_CTRL_TYPE_INTEGER_MENU;
    if (fMenu &&
        (value.value < query.minimum || value.value > query.maximum ||
         size_t(value.value) >= control->menu.size() || control->menu[value.value].empty()))
        return Fail(EINVAL);
    control->nValue = std::clamp(value.value, query.minimum, query.maximum);
    return 0;
}

void* ScriptedV4l2::Mmap(size_t nLength, int, int, int fd, off_t nOffset) {
    std::lock_guard<std::mutex> guard(lock_);
    Node* node = NodeOf(fd);
    if (node == nullptr || node->camera.fUnplugged) {
        errno = node == nullptr ? EBADF : ENODEV;
        return MAP_FAILED;
    }
    size_t nIndex = size_t(nOffset) / OFFSET_STEP;
    if (nOffset % OFFSET_STEP != 0 || nIndex >= node->buffers.size() ||
        nLength > node->buffers[nIndex]->memory.size() || node->buffers[nIndex]->fMapped) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    node->buffers[nIndex]->fMapped = true;
    ++node->camera.nMapped;
    return node->buffers[nIndex]->memory.data();
}

int ScriptedV4l2::Munmap(void* pData, size_t) {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto& [path, node] : cameras_) {
        for (auto& buffer : node.buffers) {
            if (buffer->fMapped && buffer->memory.data() == pData) {
                buffer->fMapped = false;
                --node.camera.nMapped;
                return 0;
            }
        }
    }
    return Fail(EINVAL);
}

short ScriptedV4l2::Events(int fd) {
    Node* node = NodeOf(fd);
    if (node == nullptr)
        return POLLNVAL;
    Camera& camera = node->camera;
    if (camera.fUnplugged)
        return POLLERR | POLLHUP | POLLPRI;
    if (!camera.fStreaming)
        return POLLERR;
    if (!node->done.empty())
        return POLLIN | POLLRDNORM;
    if (camera.fSpuriousWake) {
        camera.fSpuriousWake = false;
        return POLLIN | POLLRDNORM;
    }
    return 0;
}

// The device's descriptors are eventfds that Wake() signals; they are
// polled for that signal, and what they report is the device's state.
int ScriptedV4l2::Poll(pollfd* fds, nfds_t nCount, int nTimeout) {
    std::vector<pollfd> system(fds, fds + nCount);
    for (;;) {
        int nReady = 0;
        std::vector<bool> device(nCount, false);
        {
            std::lock_guard<std::mutex> guard(lock_);
            for (nfds_t i = 0; i < nCount; ++i) {
                fds[i].revents = 0;
                if (open_.count(fds[i].fd) == 0)
                    continue;
                device[i] = true;
                system[i].events = POLLIN;
                fds[i].revents =
                    short(Events(fds[i].fd) & (fds[i].events | POLLERR | POLLHUP | POLLNVAL));
                nReady += fds[i].revents != 0;
            }
        }
        int nSystem = ::poll(system.data(), nCount, nReady > 0 ? 0 : nTimeout);
        if (nSystem < 0)
            return -1;
        for (nfds_t i = 0; i < nCount; ++i) {
            if (!device[i]) {
                fds[i].revents = system[i].revents;
                nReady += fds[i].revents != 0;
            } else if ((system[i].revents & POLLIN) != 0) {
                uint64_t nCounter;
                if (read(fds[i].fd, &nCounter, sizeof nCounter) < 0) {
                    // Already drained by another poll.
                }
            }
        }
        if (nReady > 0 || nSystem == 0)
            return nReady;
    }
}

// The converter asks the device what it offers; those questions come here.
v4lconvert_data* ScriptedV4l2::CreateConverter(int fd) {
    static const libv4l_dev_ops ops = [] {
        libv4l_dev_ops table{};
        table.init = [](int) -> void* { return nullptr; };
        table.close = [](void*) {};
        table.ioctl = [](void* self, int fd, unsigned long nRequest, void* arg) {
            return static_cast<ScriptedV4l2*>(self)->Ioctl(fd, nRequest, arg);
        };
        table.read = [](void*, int, void*, size_t) -> ssize_t { return Fail(EINVAL); };
        table.write = [](void*, int, const void*, size_t) -> ssize_t { return Fail(EINVAL); };
        return table;
    }();
    return v4lconvert_create_with_dev_ops(fd, this, &ops);
}

ScriptedV4l2::Camera UvcCamera() {
    ScriptedV4l2::Camera camera;
    std::vector<v4l2_fract> rates{{1, 30}, {1, 15}};
    camera.offers = {
        {V4L2_PIX_FMT_MJPEG, {{640, 480}, {320, 240}}, std::nullopt, rates, std::nullopt},
        {V4L2_PIX_FMT_YUYV,
         {{640, 480}, {320, 240}, {160, 120}},
         std::nullopt,
         rates,
         std::nullopt},
    };
    camera.format = PixFormat(V4L2_PIX_FMT_YUYV, 640, 480);
    return camera;
}

std::vector<uint8_t> YuyvHalves(uint32_t nWidth, uint32_t nHeight, const uint8_t top[3],
                                const uint8_t bottom[3]) {
    std::vector<uint8_t> bytes;
    for (uint32_t y = 0; y < nHeight; ++y) {
        const uint8_t* yuv = y < nHeight / 2 ? top : bottom;
        for (uint32_t x = 0; x < nWidth; x += 2)
            bytes.insert(bytes.end(), {yuv[0], yuv[1], yuv[0], yuv[2]});
    }
    return bytes;
}

} // namespace brindle::test
