#include "client/connections/server_params.h"

#include "client/connections/text_scan.h"
#include "common/format_list.h"
#include "common/ini_text.h"
#include "common/list_text.h"
#include "common/log.h"
#include "common/text_utils.h"
#include "imagestore/image_path.h"
#include "protocol/scrambler.h"

#include <cinttypes>
#include <cstdio>
#include <new>

namespace brindle {

namespace {

bool IsYes(const std::optional<std::string>& value) {
    return value && IniNameEqual(*value, "Yes");
}

int32_t IntOf(const std::optional<std::string>& value, int32_t fallback) {
    return value ? ReadDecimal(*value, fallback) : fallback;
}

std::string TextOf(const std::optional<std::string>& value, size_t maxBytes) {
    if (!value)
        return {};
    return value->substr(0, Utf8FitLength(*value, maxBytes));
}

CameraInfo ReadCamera(const IniIndex& ini, const std::string& section) {
    auto get = [&](const char* key) { return ini.Get(section, key); };
    CameraInfo c;
    c.nIndex = IntOf(get("Index"), 1);
    c.nConnect = IntOf(get("Connect"), 0);
    c.fUse = IsYes(get("Use"));
    c.fSend = IsYes(get("Send"));
    c.fPreview = IsYes(get("Preview"));
    c.fChange = IsYes(get("Change"));
    c.fSave = IsYes(get("Save"));
    c.nCycle = IntOf(get("Cycle"), 60);
    c.nSensitivity = IntOf(get("Sensitivity"), 5);
    c.nQuality = IntOf(get("Quality"), 25);
    c.nTime = IntOf(get("Time"), 0);
    c.nDays = IntOf(get("Days"), 31);
    c.cName = TextOf(get("Name"), CAMERA_TEXT_MAX);
    c.cName2 = TextOf(get("Name2"), CAMERA_TEXT_MAX);
    c.cSection = section;
    c.cFont = TextOf(get("Font"), CAMERA_TEXT_MAX);
    if (std::optional<std::string> list = get("FormatList"))
        c.formats = CameraFormatsOf(*list);
    int32_t nFormat = IntOf(get("Format"), 0);
    int32_t nCount = static_cast<int32_t>(c.formats.size());
    if (nFormat < 0)
        nFormat = 0;
    c.nFormat = nFormat >= nCount ? nCount - 1 : nFormat; // -1 without formats
    return c;
}

} // namespace

bool ParseServerText(std::string_view text, std::string& cAddress, int32_t& nPort) {
    text = TrimSpaceTab(text);
    size_t colon = text.find(':');
    std::string_view address = text.substr(0, colon);
    int32_t port = 0;
    if (colon != std::string_view::npos) {
        // Only a real TCP port names a TCP server: a negative number would
        // make it storage-linked, and a large one must not wrap around into
        // the range (4294967297 is not port 1).
        std::optional<ScannedNumber> number = ScanNumber(text.substr(colon + 1), 10);
        if (!number || number->fWrapped || number->value < 1 || number->value > 65535)
            return false;
        port = static_cast<int32_t>(number->value);
    }
    if (address.empty())
        return false;
    cAddress.assign(address.substr(0, Utf8FitLength(address, SERVER_ADDRESS_MAX)));
    nPort = port;
    return true;
}

std::string FolderNameOf(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == ' ' || c == '\t')
            out += '_';
        else if (u < 0x20 || u == 0x7F ||
                 std::string_view("\\/:;*?\"<>|").find(c) != std::string_view::npos)
            continue;
        else
            out += c;
    }
    return out;
}

bool SafeFolderLevel(std::string_view text, std::string& level) {
    level = FolderNameOf(text);
    return IsSafeFolderName(level);
}

namespace {

std::string ServerFileStem(const std::string& cDataFolder, std::string_view cAddress,
                           int32_t nPort) {
    std::string stem = cDataFolder + "/BrindleView_" + FolderNameOf(cAddress);
    if (nPort > 0 && nPort != SERVER_INI_PLAIN_PORT)
        stem += "_" + std::to_string(nPort);
    return stem;
}

} // namespace

std::string ServerIniPath(const std::string& cDataFolder, std::string_view cAddress,
                          int32_t nPort) {
    return ServerFileStem(cDataFolder, cAddress, nPort) + ".ini";
}

std::string ServerTempPath(const std::string& cDataFolder, std::string_view cAddress,
                           int32_t nPort) {
    return ServerFileStem(cDataFolder, cAddress, nPort) + ".tmp";
}

SavedEntry ParseSavedEntry(std::string_view text, bool fStorageLinked) {
    SavedEntry entry;
    std::string_view rest = text;
    if (!fStorageLinked) {
        TextScan scan(text);
        if (!scan.Hex32(entry.dwAddress) || (entry.nFields = 1, !scan.Skip('/')) ||
            !scan.Decimal32(entry.nHostBits) || (entry.nFields = 2, !scan.Skip('/')) ||
            !scan.Hex64(entry.qwMacAddress) || (entry.nFields = 3, !scan.Skip('/')))
            return entry;
        rest = scan.Rest();
        // "%s" needs at least one byte that is not blank and stops at a blank.
        size_t start = rest.find_first_not_of(" \t\r\n\v\f");
        if (start == std::string_view::npos)
            return entry;
        rest = rest.substr(start);
        rest = rest.substr(0, rest.find_first_of(" \t\r\n\v\f"));
    }
    entry.nFields = 4;
    size_t slash = rest.find('/');
    if (slash != std::string_view::npos) {
        TextScan stamp(rest.substr(slash + 1));
        if (!stamp.Hex64(entry.qwPasswordStamp))
            entry.qwPasswordStamp = 0;
    }
    std::string_view digits = rest.substr(0, slash);
    // The scrambled bytes of a password that fits the record.
    digits = digits.substr(0, std::min(digits.size(), 2 * SERVER_PASSWORD_MAX));
    entry.cPassword = TextToSecret(digits);
    return entry;
}

std::string FormatSavedEntry(const ServerParams& psp) {
    std::string text;
    if (!psp.IsStorageLinked()) {
        char head[80];
        std::snprintf(head, sizeof head, "%X/%ld/%" PRIX64 "/", psp.dwAddress,
                      static_cast<long>(psp.nHostBits), psp.qwMacAddress);
        text = head;
    }
    text += SecretToText(psp.cPassword);
    char stamp[24];
    std::snprintf(stamp, sizeof stamp, "/%" PRIX64, psp.qwPasswordStamp);
    return text + stamp;
}

std::vector<CameraFormat> CameraFormatsOf(std::string_view text) {
    std::vector<CameraFormat> formats;
    try {
        for (const FormatListItem& item : ParseFormatList(text, BadFormatItem::Stop))
            formats.push_back({item.nWidth, item.nHeight, item.nInterval});
    } catch (const std::bad_alloc&) {
        // The formats converted so far.
    }
    return formats;
}

ServerIniContent ParseServerIni(std::string_view text, const std::atomic<int32_t>* pfStop) {
    ServerIniContent content;
    const IniIndex ini(text);
    std::string list = TextOf(ini.Get("Camera", "PathList"), SAVED_ENTRY_MAX);
    int32_t nId = 1;
    try {
        for (const std::string& section : ListSplitPlain(list)) {
            if (pfStop != nullptr && pfStop->load() != 0)
                break;
            CameraInfo camera = ReadCamera(ini, section);
            camera.nCameraId = nId++;
            content.cameras.push_back(std::move(camera));
        }
    } catch (const std::bad_alloc&) {
        // The table keeps the cameras read so far.
    }
    content.fNoSleep = IsYes(ini.Get("Settings", "NoSleep"));
    content.nCrypt = IntOf(ini.Get("Settings", "Crypt"), 0);
    if (std::optional<std::string> storage = ini.Get("Settings", "Webdav")) {
        content.cStorage = TextOf(storage, SERVER_ADDRESS_MAX);
        content.fHasStorage = true;
    }
    return content;
}

std::string CameraComboLine(const CameraInfo& camera) {
    std::string line = camera.cName;
    if (camera.nIndex > 1)
        line += " [" + std::to_string(camera.nIndex) + "]";
    // "%-*s" pads to 80 characters counted from the start of the line.
    size_t nChars = 0;
    for (size_t i = 0; i < line.size(); i += Utf8CharLength(line, i))
        ++nChars;
    if (nChars < 80)
        line.append(80 - nChars, ' ');
    return line + "\t" + camera.cSection;
}

int32_t ClampCurrentCamera(int32_t nCurrent, size_t nCameras) {
    if (nCurrent < 0)
        return 0;
    if (static_cast<size_t>(nCurrent) >= nCameras)
        return nCameras == 0 ? 0 : static_cast<int32_t>(nCameras) - 1;
    return nCurrent;
}

namespace {

CameraControlsState ControlsOf(const ServerParams* psp, bool fEnable, bool fPropertyDialogOpen) {
    CameraControlsState s;
    if (psp == nullptr || psp->fOnline.load() == 0 || psp->nCurrentCamera < 0 ||
        static_cast<size_t>(psp->nCurrentCamera) >= psp->cameras.size())
        return s;
    const CameraInfo& camera = psp->cameras[static_cast<size_t>(psp->nCurrentCamera)];
    s.fAvailable = camera.nConnect != 0;
    bool e = fEnable && s.fAvailable;
    s.fResolution = s.fBasics = s.fSaveOnServer = s.fTimeStamp = s.fServerWide = e;
    s.fProperty = e && !fPropertyDialogOpen;
    s.fSensitivity = e && camera.fChange;
    s.fDays = e && camera.fSave;
    return s;
}

} // namespace

CameraControlsState EnableControls(const ServerParams* psp, bool fEnable,
                                   bool fPropertyDialogOpen) {
    const char* address = psp != nullptr ? psp->cAddress.c_str() : "";
    const bool fTrace = (g_nDebug.load() & DEBUG_TRACE) != 0;
    if (fTrace)
        LogWrite("ENTER {  EnableControls() psp->cAddress=%s\n", address);
    CameraControlsState s = ControlsOf(psp, fEnable, fPropertyDialogOpen);
    if (fTrace)
        LogWrite("LEAVE }  EnableControls() psp->cAddress=%s\n", address);
    return s;
}

int ServerStateIndex(const ServerParams* psp) {
    if (psp == nullptr || !psp->fThreadStarted)
        return 0;
    if (psp->dwThreadId.load() == 0)
        return 4;
    if (psp->fStop.load() != 0)
        return 3;
    return psp->fOnline.load() != 0 ? 2 : 1;
}

const char* ServerStateText(int nIndex) {
    static const char* const kTexts[] = {"", "接続中", "接続", "切断中", "切断"};
    return nIndex >= 0 && nIndex < 5 ? kTexts[nIndex] : "";
}

} // namespace brindle
