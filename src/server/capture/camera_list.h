// The camera list: the cameras found now, merged with the ones remembered
// in the settings file, so that a camera keeps its settings, its place and
// its image folder from run to run, also while it is unplugged.
#pragma once

#include "server/capture/camera_entry.h"

#include <string>
#include <string_view>
#include <vector>

namespace brindle {

// Shown when the camera list cannot be built for lack of memory.
inline constexpr char CAMERA_LIST_NO_MEMORY_TEXT[] =
    "カメラ情報を格納するメモリ確保に失敗しました!";

// Enumerates the devices, merges them with "PathList2" of `settingsFile`,
// names them and reads (and writes back) their settings. Capture is not
// started here: see StartCamerasInUse. Returns 0 or
// ERROR_NOT_ENOUGH_MEMORY_CODE (`cameras` is then empty). Without any
// device the list holds the remembered cameras, all unconnected.
uint32_t BuildCameraList(CaptureBackend& backend, const std::string& settingsFile,
                         std::vector<CameraEntry>& cameras);

// The steps of BuildCameraList, for the window and the tests.

// The devices of the backend that can be used, in the order found: devices
// without a format are skipped, a format offered twice is listed once, and
// a device found twice (same name and path, without case) keeps its first
// entry. Logs "カメラ検出#n:name" for each.
std::vector<CaptureDeviceInfo> FindDevices(CaptureBackend& backend);

// Device paths of a "PathList2" text, each followed by "|". Empty items are
// dropped; an empty list stands for one empty item (take the first device).
std::vector<std::string> SplitPathList(std::string_view text);

// The "FormatList" text of formats: "<w>x<h>x<interval>|" each.
std::string FormatListText(const std::vector<CaptureFormat>& formats);

// Formats of a "FormatList" text (common/format_list.h). An item that does
// not hold three numbers becomes an all-zero format; at most
// CAMERA_FORMATS_MAX items are read.
inline constexpr size_t CAMERA_FORMATS_MAX = 4096;
std::vector<CaptureFormat> CaptureFormatsOf(std::string_view text);

// The folder name of a camera: the friendly name, with "[n]" appended for
// the second and later camera of the same name; blanks and tabs become
// underscores, and \ / : ; * ? " < > | are removed.
std::string CameraFolderName(std::string_view name, int nIndex);

// "640 x 480, 30.000 fps": a format as the resolution box shows it.
std::string FormatDisplayText(const CaptureFormat& format);

// A line of the camera box: the name (with " [n]" from the second camera
// of a name on), blanks up to 80 characters, a tab and the device path.
std::string CameraBoxText(const CameraSettings& settings);

// The camera a camera-box line stands for, or -1.
int FindCameraByBoxText(const std::vector<CameraEntry>& cameras, std::string_view line);

// Writes the keys the window and clients change: "Use", "Preview", "Send",
// "Change", "Save", "Format", "Days", "Sensitivity", "Quality", "Cycle",
// "Time" and "Font". Returns 0 or the first failed write's code.
uint32_t SaveCameraSettings(const CameraSettings& settings, const std::string& settingsFile);

} // namespace brindle
