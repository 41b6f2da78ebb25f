// The server's shared image state: the ring of JPEG images waiting to be
// sent (`SendQueue`), the per-camera sent and dropped counts, and the one
// process-wide lock that guards them together with the stamp fonts.
//
// The frame cycles append (on the tick's thread or on their workers); the
// logged-in client's connection thread takes images from the head and puts
// a failed batch back.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace brindle {

// One image waiting to be sent. The queue owns the JPEG bytes.
struct SendQueueEntry {
    int32_t nCamera = 0;       // camera index, from 0
    std::vector<uint8_t> jpeg; // the encoded image
    uint64_t ftCapture = 0;    // capture time as a FILETIME of local time
};

// Receives the drops of the queue (called with the main lock held; must not
// take it again). The main window shows the new count when the camera is
// the selected one.
class DropObserver {
  public:
    virtual ~DropObserver() = default;
    virtual void ImageDropped(int32_t nCamera, uint32_t nDroppedCount) = 0;
};

// Per-camera counts shown in the main window and sent with each image.
struct CameraCounts {
    uint32_t nSent = 0;    // images sent, as shown
    uint32_t nPending = 0; // sent count while a batch is on its way
    uint32_t nDropped = 0; // images abandoned for lack of bandwidth
};

inline constexpr uint32_t SEND_QUEUE_MAX_CAPACITY = 256;

// The connection status values that the connections publish; images enter
// the queue only while a client is logged in.
inline constexpr int32_t CONNECTION_IDLE = 0;
inline constexpr int32_t CONNECTION_CONNECTING = 1;
inline constexpr int32_t CONNECTION_CONNECTED = 2;
inline constexpr int32_t CONNECTION_DISCONNECTING = 3;
inline constexpr int32_t CONNECTION_DISCONNECTED = 4;

class ServerShared;

// A ring of at most `capacity` images. Every member requires the main lock
// of the owning ServerShared to be held by the caller.
class SendQueue {
  public:
    // The "MaxImage" setting, clamped to 1..256.
    explicit SendQueue(uint32_t nCapacity = SEND_QUEUE_MAX_CAPACITY);

    uint32_t Capacity() const { return static_cast<uint32_t>(slots_.size()); }
    uint32_t Count() const { return nCount_; }
    bool Empty() const { return nCount_ == 0; }

    // The entry at the head (the oldest), or null when empty.
    const SendQueueEntry* Head() const;
    // Moves the head entry out; false when empty.
    bool TakeHead(SendQueueEntry& entry);

  private:
    friend class ServerShared;
    // Removes the head entry and returns it; the queue must not be empty.
    SendQueueEntry PopHead();
    void PushTail(SendQueueEntry&& entry);
    void PushHead(SendQueueEntry&& entry);

    std::vector<SendQueueEntry> slots_;
    uint32_t nWrite_ = 0;
    uint32_t nRead_ = 0;
    uint32_t nCount_ = 0;
};

class ServerShared {
  public:
    explicit ServerShared(uint32_t nQueueCapacity = SEND_QUEUE_MAX_CAPACITY)
        : queue(nQueueCapacity) {}

    // The main lock: guards the queue, the counts, the camera names below
    // and the stamp fonts of the cameras.
    std::mutex mainLock;
    SendQueue queue;
    std::vector<CameraCounts> counts;     // by camera index
    std::vector<std::string> cameraNames; // friendly names, for log lines
    DropObserver* dropObserver = nullptr; // may be null

    // Written by the connections without the lock; read by the frame cycle.
    std::atomic<int32_t> nConnectionStatus{CONNECTION_IDLE};

    // Sets the camera count (names and counts grow or shrink with it).
    // Caller holds the main lock.
    void SetCameras(const std::vector<std::string>& names);

    // Appends an image at the tail; when the ring is full the oldest image
    // is dropped first (logged, counted). Caller holds the main lock.
    void AppendImage(SendQueueEntry&& entry);

    // JPEG buffers of images that have been sent, kept for the frame cycles
    // to fill again: a steady stream of images then allocates no buffer per
    // image. At most two a camera (at least four) are kept; a buffer taken
    // when none is kept is empty. Caller holds the main lock.
    std::vector<uint8_t> TakeSpareBuffer();
    void RecycleBuffer(std::vector<uint8_t>&& buffer);

    // Puts images taken from the head back there, oldest first in `batch`,
    // ahead of what was queued since. When they do not all fit, the oldest
    // are dropped (logged, counted). Caller holds the main lock.
    void PutBackAtHead(std::vector<SendQueueEntry>&& batch);

  private:
    void DropImage(const SendQueueEntry& entry);

    std::vector<std::vector<uint8_t>> spareBuffers_;
};

} // namespace brindle
