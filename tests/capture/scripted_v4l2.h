// A UVC camera at the system-call edge of the V4L2 backend: video nodes
// that answer the ioctls a capture program makes (formats, sizes, rates,
// format setting, mmap buffers, streaming, controls) the way the V4L2 API
// documents them, with frames that the test hands in.
#pragma once

#include "server/capture/v4l2_device.h"

#include <linux/videodev2.h>

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace brindle::test {

class ScriptedV4l2 : public V4l2Io {
  public:
    // One pixel format: its sizes (discrete, or one stepwise range) and its
    // frame intervals (the same at every size; discrete, or one range).
    struct Offer {
        uint32_t nFourcc = 0;
        std::vector<std::pair<uint32_t, uint32_t>> sizes;
        std::optional<v4l2_frmsize_stepwise> sizeRange;
        std::vector<v4l2_fract> intervals;
        std::optional<v4l2_frmival_stepwise> intervalRange;
    };

    struct Control {
        v4l2_queryctrl query{};
        std::vector<std::string> menu; // by value; an empty text is a skipped value
        int32_t nValue = 0;
    };

    // What a camera offers and how it fails. The counters are kept by the
    // device; read them under no stream activity or through Read().
    struct Camera {
        std::string card = "USB Camera";
        std::vector<Offer> offers;
        std::vector<Control> controls;
        v4l2_pix_format format{}; // the current format
        int nOpenError = 0;       // errno of every open
        int nStreamOnError = 0;   // errno of VIDIOC_STREAMON
        bool fMetadata = false;   // the metadata node of a UVC camera, no video
        v4l2_fract timePerFrame{1, 30};
        // Set by the device:
        bool fStreaming = false;
        bool fUnplugged = false;
        int nOpen = 0;              // open file descriptors
        int nMapped = 0;            // buffers mapped
        int nEagain = 0;            // VIDIOC_DQBUF calls answered with EAGAIN
        int nQueuedAgain = 0;       // VIDIOC_QBUF calls while streaming (a frame done with)
        bool fSpuriousWake = false; // poll is to report a frame once that is not there
    };

    ScriptedV4l2();
    ~ScriptedV4l2() override;

    // Adds a camera at a node path; the path must exist as a file when the
    // backend enumerates a folder.
    void AddCamera(const std::string& node, Camera camera);

    // Runs `read` on the camera under the device's lock.
    template <typename F> auto Read(const std::string& node, F read) {
        std::lock_guard<std::mutex> guard(lock_);
        return read(cameras_.at(node).camera);
    }

    // Fills the next queued buffer with `bytes` and hands it to the reader.
    // False when no buffer is queued (the frame is dropped, as a driver does).
    bool DeliverFrame(const std::string& node, const std::vector<uint8_t>& bytes,
                      uint32_t nFlags = 0);

    // Wakes the reader once with no frame ready, as poll may.
    void SpuriousWake(const std::string& node);

    // The camera goes away: every later call on its descriptors fails with
    // ENODEV, and poll reports an error.
    void Unplug(const std::string& node);

    int Open(const std::string& path, int nFlags) override;
    int Close(int fd) override;
    int Ioctl(int fd, unsigned long nRequest, void* arg) override;
    void* Mmap(size_t nLength, int nProt, int nFlags, int fd, off_t nOffset) override;
    int Munmap(void* pData, size_t nLength) override;
    int Poll(pollfd* fds, nfds_t nCount, int nTimeout) override;
    v4lconvert_data* CreateConverter(int fd) override;

  private:
    struct Buffer {
        std::vector<uint8_t> memory;
        uint32_t nBytesUsed = 0;
        uint32_t nFlags = 0;
        bool fQueued = false;
        bool fMapped = false;
    };
    struct Node {
        Camera camera;
        std::vector<std::unique_ptr<Buffer>> buffers;
        std::deque<uint32_t> queued; // waiting for a frame, in order
        std::deque<uint32_t> done;   // filled, waiting for VIDIOC_DQBUF
        std::vector<int> fds;        // its open descriptors (eventfds that wake poll)
        int owner = -1;              // the descriptor that holds the buffers
        uint32_t nSequence = 0;
    };

    int DeviceIoctl(Node& node, int fd, unsigned long nRequest, void* arg);
    int FormatIoctl(Node& node, int fd, unsigned long nRequest, void* arg);
    int BufferIoctl(Node& node, int fd, unsigned long nRequest, void* arg);
    int ControlIoctl(Node& node, unsigned long nRequest, void* arg);
    short Events(int fd);
    void Wake(Node& node);
    Node* NodeOf(int fd);

    std::mutex lock_;
    std::map<std::string, Node> cameras_;
    std::map<int, std::string> open_; // descriptor -> node path
};

// A UVC-like camera: MJPEG and YUYV at 640x480 and 320x240 (30 and 15
// frames a second), YUYV also at 160x120 only, the current format YUYV
// 640x480.
ScriptedV4l2::Camera UvcCamera();

// YUYV bytes of a picture whose top half is `top` and bottom half `bottom`,
// each given as (Y, U, V).
std::vector<uint8_t> YuyvHalves(uint32_t nWidth, uint32_t nHeight, const uint8_t top[3],
                                const uint8_t bottom[3]);

} // namespace brindle::test
