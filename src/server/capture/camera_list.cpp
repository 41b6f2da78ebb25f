#include "server/capture/camera_list.h"

#include "common/error_codes.h"
#include "common/font_text.h"
#include "common/format_list.h"
#include "common/ini_file.h"
#include "common/list_text.h"
#include "common/log.h"
#include "common/settings.h"
#include "common/text_utils.h"
#include "server/capture/frame_cycle.h"
#include "server/capture/stamp_font.h"

#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <new>

namespace brindle {

namespace {

std::string CutText(std::string_view text) {
    return std::string(text.substr(0, Utf8FitLength(text, CAMERA_TEXT_MAX)));
}

// Reads and writes the keys of one section of the settings file.
class SectionIo {
  public:
    SectionIo(const std::string& file, const std::string& section)
        : file_(file), section_(section) {}

    uint32_t ReadUnsigned(const char* pcKey, uint32_t nDefault) const {
        uint32_t nValue = 0;
        SettingRead({section_.c_str(), pcKey, &nDefault, &nValue, file_.c_str(), 0});
        return nValue;
    }
    bool ReadYesNo(const char* pcKey) const {
        uint32_t fDefault = 0, fValue = 0;
        SettingRead({section_.c_str(), pcKey, &fDefault, &fValue, file_.c_str(), SETTING_YESNO});
        return fValue != 0;
    }
    std::string ReadText(const char* pcKey) const {
        std::string value;
        IniReadKey(file_, section_, pcKey, value);
        return value;
    }
    uint32_t WriteUnsigned(const char* pcKey, uint32_t nValue) const {
        return SettingWriteNumber({section_.c_str(), pcKey, nullptr, nullptr, file_.c_str(), 0},
                                  nValue);
    }
    uint32_t WriteYesNo(const char* pcKey, bool fValue) const {
        return SettingWriteNumber(
            {section_.c_str(), pcKey, nullptr, nullptr, file_.c_str(), SETTING_YESNO}, fValue);
    }
    uint32_t WriteText(const char* pcKey, std::string_view text) const {
        return SettingWriteText({section_.c_str(), pcKey, nullptr, nullptr, file_.c_str(), 0},
                                text);
    }

  private:
    const std::string& file_;
    std::string section_;
};

} // namespace

std::vector<CaptureDeviceInfo> FindDevices(CaptureBackend& backend) {
    std::vector<CaptureDeviceInfo> all;
    backend.Enumerate(all);
    std::vector<CaptureDeviceInfo> found;
    for (CaptureDeviceInfo& device : all) {
        if (device.friendlyName.empty() || device.devicePath.empty())
            continue;
        device.friendlyName = CutText(device.friendlyName);
        std::vector<CaptureFormat> formats;
        for (const CaptureFormat& format : device.formats) {
            if (std::find(formats.begin(), formats.end(), format) == formats.end())
                formats.push_back(format);
        }
        device.formats = std::move(formats);
        if (device.formats.empty())
            continue;
        bool fTwice = std::any_of(found.begin(), found.end(), [&](const CaptureDeviceInfo& d) {
            return EqualNoCase(d.friendlyName, device.friendlyName) &&
                   EqualNoCase(d.devicePath, device.devicePath);
        });
        if (!fTwice)
            found.push_back(std::move(device));
    }
    for (size_t i = 0; i < found.size(); ++i)
        LogWrite("カメラ検出#%d:%s\n", int(i + 1), found[i].friendlyName.c_str());
    return found;
}

std::vector<std::string> SplitPathList(std::string_view text) {
    std::vector<std::string> items = ListSplitPlain(text);
    if (items.empty())
        items.emplace_back();
    return items;
}

std::string FormatListText(const std::vector<CaptureFormat>& formats) {
    std::string text;
    char item[80];
    for (const CaptureFormat& format : formats) {
        std::snprintf(item, sizeof item, "%" PRId32 "x%" PRId32 "x%" PRId64 "|", format.nWidth,
                      format.nHeight, format.nInterval);
        text += item;
    }
    return text;
}

std::vector<CaptureFormat> CaptureFormatsOf(std::string_view text) {
    std::vector<CaptureFormat> formats;
    for (const FormatListItem& item :
         ParseFormatList(text, BadFormatItem::Zero, CAMERA_FORMATS_MAX))
        formats.push_back({item.nWidth, item.nHeight, item.nInterval});
    return formats;
}

std::string CameraFolderName(std::string_view name, int nIndex) {
    std::string source(name);
    if (nIndex >= 2) {
        // Appended piece by piece: "[" + to_string() trips a false -Wrestrict in GCC 12.
        source += '[';
        source += std::to_string(nIndex);
        source += ']';
    }
    // UTF-8 continuation bytes are never ASCII, so a byte walk cannot hit
    // the middle of a character.
    std::string folder;
    for (char c : source) {
        if (c == ' ' || c == '\t')
            folder += '_';
        else if (std::string_view("\\/:;*?\"<>|").find(c) == std::string_view::npos)
            folder += c;
    }
    return CutText(folder);
}

std::string FormatDisplayText(const CaptureFormat& format) {
    int64_t nRate = format.nInterval > 0 ? 10000000000LL / format.nInterval : 0;
    char text[96];
    std::snprintf(text, sizeof text, "%" PRId32 " x %" PRId32 ", %" PRId64 ".%03" PRId64 " fps",
                  format.nWidth, format.nHeight, nRate / 1000, nRate % 1000);
    return text;
}

namespace {

std::string BoxName(const CameraSettings& settings) {
    std::string name = settings.cName;
    if (settings.nIndex > 1)
        name += " [" + std::to_string(settings.nIndex) + "]";
    return name;
}

size_t CharacterCount(std::string_view text) {
    size_t nCount = 0;
    for (size_t at = 0; at < text.size(); at += Utf8CharLength(text, at))
        ++nCount;
    return nCount;
}

} // namespace

std::string CameraBoxText(const CameraSettings& settings) {
    std::string line = BoxName(settings);
    size_t nLength = CharacterCount(line);
    if (nLength < 80)
        line.append(80 - nLength, ' ');
    return line + "\t" + settings.cPath;
}

int FindCameraByBoxText(const std::vector<CameraEntry>& cameras, std::string_view line) {
    size_t nTab = line.rfind('\t');
    if (nTab == std::string_view::npos)
        return -1;
    std::string_view name = line.substr(0, nTab);
    while (!name.empty() && name.back() == ' ')
        name.remove_suffix(1);
    std::string_view path = line.substr(nTab + 1);
    for (size_t i = 0; i < cameras.size(); ++i) {
        const CameraSettings& settings = cameras[i].settings;
        if (BoxName(settings) == name && EqualNoCase(settings.cPath, path))
            return int(i);
    }
    return -1;
}

namespace {

constexpr char CAMERA_SECTION[] = "Camera";

std::string PathListText(const std::vector<std::string>& paths) {
    std::string text;
    for (const std::string& path : paths)
        text += path + "|";
    return text;
}

CameraEntry EntryOf(const CaptureDeviceInfo& device, int nConnect) {
    CameraEntry entry;
    entry.settings.cName = device.friendlyName;
    entry.settings.cPath = device.devicePath;
    entry.settings.fStill = device.fStill;
    entry.settings.nWaveInId = device.nWaveInId;
    entry.settings.formats = device.formats;
    entry.settings.nConnect = nConnect;
    return entry;
}

// Index of the found device a remembered path takes, or -1. An empty path
// takes the first device not yet taken.
int MatchDevice(const std::vector<CaptureDeviceInfo>& found, const std::vector<bool>& taken,
                const std::string& path) {
    for (size_t i = 0; i < found.size(); ++i) {
        if (path.empty() ? !taken[i] : EqualNoCase(found[i].devicePath, path))
            return int(i);
    }
    return -1;
}

// The remembered order first, then the devices that are new.
std::vector<CameraEntry> MergeWithRemembered(const std::vector<CaptureDeviceInfo>& found,
                                             const std::vector<std::string>& remembered) {
    std::vector<CameraEntry> list;
    std::vector<bool> taken(found.size(), false);
    auto listed = [&list](const std::string& path) {
        return std::any_of(list.begin(), list.end(), [&](const CameraEntry& entry) {
            return EqualNoCase(entry.settings.cPath, path);
        });
    };
    for (const std::string& path : remembered) {
        // A path named twice would list one device twice; an empty item
        // with no device left would make a camera without a section.
        if (!path.empty() && listed(path))
            continue;
        int nDevice = MatchDevice(found, taken, path);
        if (nDevice >= 0 && !taken[size_t(nDevice)]) {
            taken[size_t(nDevice)] = true;
            list.push_back(EntryOf(found[size_t(nDevice)], int(list.size() + 1)));
        } else if (!path.empty()) {
            CameraEntry entry;
            entry.settings.cPath = path;
            list.push_back(std::move(entry));
        }
    }
    for (size_t i = 0; i < found.size(); ++i) {
        if (!taken[i])
            list.push_back(EntryOf(found[i], int(list.size() + 1)));
    }
    return list;
}

// "Index": kept from the file, else one more than the largest number among
// the earlier cameras of the same name.
int DuplicateNumber(const std::vector<CameraEntry>& list, size_t nEntry, const SectionIo& io) {
    int nIndex = int(io.ReadUnsigned("Index", 0));
    if (nIndex >= 1)
        return nIndex;
    nIndex = 1;
    for (size_t i = 0; i < nEntry; ++i) {
        const CameraSettings& other = list[i].settings;
        if (EqualNoCase(other.cName, list[nEntry].settings.cName) && other.nIndex >= nIndex)
            nIndex = other.nIndex + 1;
    }
    io.WriteUnsigned("Index", uint32_t(nIndex));
    return nIndex;
}

uint32_t Clamp(uint32_t nValue, uint32_t nMinimum, uint32_t nMaximum) {
    return nValue < nMinimum ? nMinimum : nValue > nMaximum ? nMaximum : nValue;
}

// The keys the user sets, with their defaults; out-of-range values are
// clamped, and a corrected "Format" or "Time" is written back. "Days" = 0 is a
// valid value (keep every image) and stays 0: only the window's field keeps a
// typed value at 1 or more.
void ReadUserSettings(CameraSettings& settings, const SectionIo& io) {
    settings.fUse = io.ReadYesNo("Use");
    settings.fPreview = io.ReadYesNo("Preview");
    settings.fSend = io.ReadYesNo("Send");
    settings.fChange = io.ReadYesNo("Change");
    settings.fSave = io.ReadYesNo("Save");
    int32_t nFormat = int32_t(io.ReadUnsigned("Format", 0));
    int32_t nCount = int32_t(settings.formats.size());
    int32_t nClamped = nFormat >= nCount ? nCount - 1 : nFormat;
    settings.nFormat = nClamped < 0 ? 0 : nClamped;
    if (settings.nFormat != nFormat)
        io.WriteUnsigned("Format", uint32_t(settings.nFormat));
    settings.nDays = int(Clamp(io.ReadUnsigned("Days", 31), 0, INT32_MAX));
    settings.nSensitivity = int(Clamp(io.ReadUnsigned("Sensitivity", 5), 0, 9));
    settings.nQuality = int(Clamp(io.ReadUnsigned("Quality", 25), 0, 100));
    settings.nCycle = int(Clamp(io.ReadUnsigned("Cycle", 60), 1, CYCLE_MAX_SECONDS));
    int32_t nTime = int32_t(io.ReadUnsigned("Time", 0));
    settings.nTime = nTime < 0 ? 0 : nTime > 4 ? 4 : nTime;
    if (settings.nTime != nTime)
        io.WriteUnsigned("Time", uint32_t(settings.nTime));
    LogFont font;
    const std::string fontText = io.ReadText("Font");
    if (TextToFont(fontText, font) == 0) {
        settings.lfFont = font;
        settings.fFont = 1;
    } else if (!fontText.empty()) {
        // The default font stands in; the key stays until a font is chosen.
        LogWrite("カメラ%sのフォント%sを読めません。既定のフォントを使います\r\n",
                 settings.cName.c_str(), fontText.c_str());
    }
}

void ReadEntrySettings(std::vector<CameraEntry>& list, size_t nEntry, const std::string& file) {
    CameraSettings& settings = list[nEntry].settings;
    SectionIo io(file, settings.cPath);
    if (settings.nConnect != 0) {
        io.WriteText("Name", settings.cName);
        io.WriteUnsigned("Still", uint32_t(settings.fStill));
        io.WriteText("FormatList", FormatListText(settings.formats));
    } else {
        settings.cName = CutText(io.ReadText("Name"));
        settings.fStill = int(io.ReadUnsigned("Still", 0));
        settings.formats = CaptureFormatsOf(io.ReadText("FormatList"));
    }
    settings.nIndex = DuplicateNumber(list, nEntry, io);
    settings.cName2 = CameraFolderName(settings.cName, settings.nIndex);
    io.WriteText("Name2", settings.cName2);
    io.WriteUnsigned("Connect", uint32_t(settings.nConnect));
    ReadUserSettings(settings, io);
}

} // namespace

uint32_t BuildCameraList(CaptureBackend& backend, const std::string& settingsFile,
                         std::vector<CameraEntry>& cameras) {
    cameras.clear();
    try {
        std::vector<CaptureDeviceInfo> found = FindDevices(backend);
        SectionIo camera(settingsFile, CAMERA_SECTION);
        std::vector<std::string> foundPaths;
        for (const CaptureDeviceInfo& device : found)
            foundPaths.push_back(device.devicePath);
        camera.WriteUnsigned("Count", uint32_t(found.size()));
        camera.WriteText("PathList", PathListText(foundPaths));

        std::vector<CameraEntry> list =
            MergeWithRemembered(found, SplitPathList(camera.ReadText("PathList2")));
        std::vector<std::string> listPaths;
        for (const CameraEntry& entry : list)
            listPaths.push_back(entry.settings.cPath);
        camera.WriteText("PathList2", PathListText(listPaths));

        for (size_t i = 0; i < list.size(); ++i) {
            ReadEntrySettings(list, i, settingsFile);
            // Nothing else uses the list yet, so the font needs no lock here.
            if (list[i].settings.fFont)
                list[i].stampFont = QFontFromLogFont(list[i].settings.lfFont);
        }
        cameras = std::move(list);
    } catch (const std::bad_alloc&) {
        cameras.clear();
        return ERROR_NOT_ENOUGH_MEMORY_CODE;
    }
    return 0;
}

uint32_t SaveCameraSettings(const CameraSettings& settings, const std::string& settingsFile) {
    SectionIo io(settingsFile, settings.cPath);
    uint32_t results[] = {
        io.WriteYesNo("Use", settings.fUse),
        io.WriteYesNo("Preview", settings.fPreview),
        io.WriteYesNo("Send", settings.fSend),
        io.WriteYesNo("Change", settings.fChange),
        io.WriteYesNo("Save", settings.fSave),
        io.WriteUnsigned("Format", uint32_t(settings.nFormat)),
        io.WriteUnsigned("Days", uint32_t(settings.nDays)),
        io.WriteUnsigned("Sensitivity", uint32_t(settings.nSensitivity)),
        io.WriteUnsigned("Quality", uint32_t(settings.nQuality)),
        io.WriteUnsigned("Cycle", uint32_t(settings.nCycle)),
        io.WriteUnsigned("Time", uint32_t(settings.nTime)),
        io.WriteText("Font", StampFontText(settings)),
    };
    for (uint32_t nResult : results) {
        if (nResult != 0)
            return nResult;
    }
    return 0;
}

} // namespace brindle
