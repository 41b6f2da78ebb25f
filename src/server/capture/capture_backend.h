// The camera hardware edge: a backend enumerates capture devices and starts
// streams on them; a running stream hands out its newest frame on request.
//
// Everything above this header (camera list, start and stop, frame cycle)
// works only with these types, so the V4L2 backend, the built-in test camera
// and the scripted double of the tests are interchangeable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace brindle {

// One capture format. The interval is in 100 ns units, 0 when the device
// states none.
struct CaptureFormat {
    int32_t nWidth = 0;
    int32_t nHeight = 0;
    int64_t nInterval = 0;

    bool operator==(const CaptureFormat&) const = default;
};

// Bytes per row of a 24-bit frame: 3 bytes a pixel, padded to 4 bytes.
inline size_t DibStride(int32_t nWidth) {
    return (static_cast<size_t>(nWidth) * 3 + 3) & ~static_cast<size_t>(3);
}

// A frame as 24-bit BGR rows, bottom-up (the first row in memory is the
// bottom row of the picture), DibStride(nWidth) bytes apart, padding zero.
// nWidth and nHeight are the size actually delivered, which may differ
// from the format that was asked for.
struct CaptureFrame {
    std::vector<uint8_t> pixels;
    int32_t nWidth = 0;
    int32_t nHeight = 0;
};

// A device found by enumeration.
struct CaptureDeviceInfo {
    std::string friendlyName; // the driver's card name or description
    std::string devicePath;   // stable path; also the settings section name
    int fStill = 0;           // a still-image pin is used (never on Linux)
    int nWaveInId = -1;       // audio input belonging to the device, -1: none
    std::vector<CaptureFormat> formats;
};

// A control of the device's own property dialog.
enum class ControlType { Integer, Boolean, Menu, Button };

// Control flags, with the values of the V4L2 control flags they carry.
inline constexpr uint32_t CONTROL_FLAG_DISABLED = 0x0001;
inline constexpr uint32_t CONTROL_FLAG_GRABBED = 0x0002;
inline constexpr uint32_t CONTROL_FLAG_READ_ONLY = 0x0004;
inline constexpr uint32_t CONTROL_FLAG_INACTIVE = 0x0010;
inline constexpr uint32_t CONTROL_FLAG_WRITE_ONLY = 0x0040;

struct CaptureControl {
    uint32_t nId = 0;
    std::string className; // the tab the control appears on
    std::string name;
    ControlType type = ControlType::Integer;
    int32_t nMinimum = 0;
    int32_t nMaximum = 0;
    int32_t nStep = 1;
    int32_t nDefault = 0;
    int32_t nValue = 0;
    // Menu entries for the values nMinimum..nMaximum; an empty text marks a
    // value the device skips.
    std::vector<std::string> menu;
    uint32_t nFlags = 0; // CONTROL_FLAG_* bits
};

// A running capture. Destroying it stops the device and releases it.
class CaptureStream {
  public:
    virtual ~CaptureStream() = default;

    // Copies the newest frame into `frame` (its buffer is reused when large
    // enough). Returns 0, or a code when no frame has arrived yet or the
    // frame cannot be converted. A device that has gone away keeps returning
    // its last frame.
    virtual uint32_t NewestFrame(CaptureFrame& frame) = 0;

    // Stops streaming; later NewestFrame calls fail. Returns 0 or the code
    // of the failed stop (the stream is released either way).
    virtual uint32_t Stop() = 0;

    // True once the device has gone away (unplugged); the stream then keeps
    // delivering its last frame.
    virtual bool Lost() const { return false; }
};

class CaptureBackend {
  public:
    virtual ~CaptureBackend() = default;

    // Appends the devices present now, in the backend's own order. Formats
    // may repeat; the camera list removes repeated triples.
    virtual uint32_t Enumerate(std::vector<CaptureDeviceInfo>& devices) = 0;

    // Whether `devicePath` names one of this backend's devices.
    virtual bool Handles(const std::string& devicePath) const = 0;

    // Starts streaming from the device in the format that matches `wanted`
    // (by size; by interval too when fMatchInterval), else in the device's
    // current format. On failure returns the code and may fill `hint` with
    // advice for the user in plain words.
    virtual uint32_t Start(const std::string& devicePath, const CaptureFormat& wanted,
                           bool fMatchInterval, std::unique_ptr<CaptureStream>& stream,
                           std::string& hint) = 0;

    // The device's own controls, their current values included.
    virtual uint32_t ListControls(const std::string& devicePath,
                                  std::vector<CaptureControl>& controls) = 0;
    virtual uint32_t SetControl(const std::string& devicePath, uint32_t nId, int32_t nValue) = 0;
};

// Routes each device path to the backend that handles it; enumerates all of
// them in the order they were added. Does not own the backends.
class CombinedBackend : public CaptureBackend {
  public:
    void Add(CaptureBackend* backend) { backends_.push_back(backend); }

    uint32_t Enumerate(std::vector<CaptureDeviceInfo>& devices) override;
    bool Handles(const std::string& devicePath) const override;
    uint32_t Start(const std::string& devicePath, const CaptureFormat& wanted, bool fMatchInterval,
                   std::unique_ptr<CaptureStream>& stream, std::string& hint) override;
    uint32_t ListControls(const std::string& devicePath,
                          std::vector<CaptureControl>& controls) override;
    uint32_t SetControl(const std::string& devicePath, uint32_t nId, int32_t nValue) override;

  private:
    CaptureBackend* Find(const std::string& devicePath) const;
    std::vector<CaptureBackend*> backends_;
};

} // namespace brindle
