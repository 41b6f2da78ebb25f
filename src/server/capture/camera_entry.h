// `CameraEntry`: the server's record of one camera, addressed by its index
// in the camera list everywhere on the server.
//
// The settings record (what the settings file keeps, in the order the list
// builds it) lives apart from the running capture and the frame-cycle
// state. The per-camera sent and dropped counts live in ServerShared, next
// to the image queue they belong to, under the same lock.
#pragma once

#include "common/font_text.h"
#include "platform/clock.h"
#include "server/capture/capture_backend.h"
#include "server/capture/change_detect.h"
#include "server/capture/composition.h"
#include "image/jpeg_codec.h"

#include <QFont>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace brindle {

// Texts of the settings record hold at most this many bytes (the 260-byte
// fields of the settings file, less the terminator).
inline constexpr size_t CAMERA_TEXT_MAX = 259;

// The longest cycle in seconds, wherever a cycle comes in (settings file,
// client request): cycle x 1000 stays a positive 32-bit millisecond count,
// so it fits the 32-bit tick and any signed sum.
inline constexpr uint32_t CYCLE_MAX_SECONDS = INT32_MAX / 1000;

// The settings record of one camera.
struct CameraSettings {
    int nIndex = 0;   // "Index": 1 for the first camera of a name, 2, 3, ... for more
    int nConnect = 0; // "Connect": 1-based place in the list when present, 0 when remembered only
    int fUse = 0;     // "Use"
    int fSend = 0;    // "Send"
    int fStill = 0;   // "Still": never set on Linux (V4L2 has no still pin)
    int fPreview = 0; // "Preview"
    int fChange = 0;  // "Change": skip unchanged images
    int fSave = 0;    // "Save"
    int nCycle = 60;  // "Cycle": seconds between frame cycles, at least 1
    int nSensitivity = 5; // "Sensitivity": 0 (never) to 9
    int nQuality = 25;    // "Quality": 0 to 100
    int nTime = 0;        // "Time": stamp position, 0 none, 1-4 the corners
    int nDays = 31;       // "Days": retention
    int fFont = 0;        // "Font" held a font: lfFont is the stamp font
    LogFont lfFont;       // the stamp font's logical-font record
    std::string cName;    // "Name": the device's friendly name
    std::string cName2;   // "Name2": the camera's folder name
    std::string cPath;    // device path; also the camera's settings section
    int nWaveInId = -1;   // the device's audio input, -1 for none; not used further
    int nFormat = 0;      // "Format": index into formats
    std::vector<CaptureFormat> formats;
};

// The running capture (none while stopped).
struct CaptureState {
    std::unique_ptr<CaptureStream> stream;
    int fPreviewAtStart = 0; // the preview setting when the capture last started
    int fRunning = 0;
    CompositionSurface surface; // made at start, released at stop
};

// What the frame cycle keeps from cycle to cycle. It survives stopping and
// restarting the capture.
struct FrameCycleState {
    uint32_t nLastCycleTick = 0; // 0: the cycle clock is not running
    CaptureFrame reference;      // the newest frame, for change detection
    SystemTime referenceTime{};
    bool fReference = false;
    CaptureFrame spare; // buffer of the next fetch, reused from cycle to cycle
    DifferenceHistory history;
    int nChangeState = 0;
    JpegEncoder encoder;                  // kept with its memory from image to image
    StampedRows stampedRows;              // the rows under the stamp, stamped
    std::vector<const uint8_t*> rowTable; // the stamped picture's rows for the encoder
};

struct CameraEntry {
    CameraSettings settings;
    // The stamp font made from settings.lfFont; guarded by the main lock of
    // ServerShared, as the font dialog and client requests replace it.
    QFont stampFont = DefaultStampFont();
    CaptureState capture;
    FrameCycleState cycle;
};

} // namespace brindle
