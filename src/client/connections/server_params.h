// What BrindleView knows about one server: the ServerParams record with its
// camera table, and the entries that BrindleView.ini and the per-server
// settings file keep for it.
#pragma once

#include "protocol/packet_codec.h"
#include "storage/relay_peer.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace brindle {

class StorageLink;

// Size limits of the record's text fields (bytes, terminator excluded).
inline constexpr size_t SERVER_ADDRESS_MAX = 255;
inline constexpr size_t SERVER_PASSWORD_MAX = 255;
inline constexpr size_t CAMERA_TEXT_MAX = 259;
// Values read from the settings files.
inline constexpr size_t SAVED_ENTRY_MAX = 32767;

// One capture format the server's camera offers.
struct CameraFormat {
    int32_t nWidth = 0;
    int32_t nHeight = 0;
    int64_t nDuration = 0; // frame duration in 100 ns units; 0 when unknown
};

// One camera of a server, as the per-server settings file describes it.
struct CameraInfo {
    int32_t nIndex = 1;   // "Index": instance number among cameras of one name
    int32_t nConnect = 0; // "Connect": non-zero while the camera is present
    bool fUse = false;
    bool fSend = false;
    bool fPreview = false;
    bool fChange = false; // thin out unchanged pictures
    bool fSave = false;   // save on the server
    int32_t nCycle = 60;
    int32_t nSensitivity = 5;
    int32_t nQuality = 25;
    int32_t nTime = 0; // time-stamp position 0-4
    int32_t nDays = 31;
    std::string cFont;    // the time-stamp font in its text form
    std::string cName;    // "Name"
    std::string cName2;   // "Name2": the camera's folder name as the server sent it
    std::string cSection; // the section of the camera in the settings file
    std::vector<CameraFormat> formats;
    int32_t nFormat = 0;     // within 0 .. formats.size() - 1; -1 without formats
    int32_t nCameraId = 0;   // 1-based position in "PathList"
    uint32_t nSent = 0;      // images the server has sent for this camera
    uint32_t nAbandoned = 0; // sends the server has abandoned for it
};

// A camera settings request, filled by the main window before it sets
// nCameraRequest.
struct CameraRequestFields {
    int32_t nFlags = 0; // 1 use, 2 send, 4 preview, 8 thin out, 16 save on the server
    int32_t nFormat = 0;
    int32_t nCycle = 0;
    int32_t nSensitivity = 0;
    int32_t nQuality = 0;
    int32_t nTime = 0;
    int32_t nDays = 0;
    int32_t nCrypt = 0;
    int32_t fNoSleep = 0;
    std::string cFont;
};
inline constexpr int32_t REQUEST_FLAG_USE = 1, REQUEST_FLAG_SEND = 2, REQUEST_FLAG_PREVIEW = 4,
                         REQUEST_FLAG_CHANGE = 8, REQUEST_FLAG_SAVE = 16;

// A property request, filled by the main window (kind 0) or the remote
// property dialog before it sets nPropertyRequest.
struct PropertyRequestFields {
    int32_t nKind = 0;                 // 0 open, 3 button, 4 list, 5 tab, 6 slider
    std::array<int32_t, 5> anFields{}; // payload +12 .. +31; the last is the value
    std::string cControlText;          // the control's text, for the log line
};

// One server entry. Created by CreateServerParams and kept for the life of
// the process. The connection thread owns the link fields; the main window
// writes only the request fields (then the request index) and fStop.
struct ServerParams {
    std::string cAddress;   // as typed, without the port; the key in every settings file
    int32_t nPort = 0;      // 0 or less: reached through an online storage
    uint32_t dwAddress = 0; // network byte order
    int32_t nHostBits = 0;
    uint64_t qwMacAddress = 0;
    std::string cServerIni; // the per-server settings file

    PacketConnection conn; // socket (conn.nSocket, owned by the thread) and image cipher
    std::array<uint8_t, 16> abDigest{};
    StorageLink* pStorage = nullptr;
    std::string cStorage;
    // Storage links: what the relay worker reads and updates of this link
    // (the count of our files still unread, nUnread, is its backlog).
    // Set by the connection thread while it runs.
    std::shared_ptr<RelayPeer> relayPeer;

    std::thread hThread; // the last connection thread started
    bool fThreadStarted = false;
    std::atomic<uint32_t> dwThreadId{0};

    bool fNoSleep = false;
    int32_t nCrypt = 0;

    std::string cPassword;
    uint64_t qwPasswordStamp = 0;

    std::atomic<int32_t> fOnline{0};
    std::atomic<int32_t> nSettingsChunk{0};
    std::atomic<int32_t> fStop{0};
    std::atomic<int32_t> fPlainImage{0};

    std::atomic<int32_t> loadCameraInfo{0};
    int32_t nCurrentCamera = 0;
    std::vector<CameraInfo> cameras; // replaced under the process-wide lock

    std::atomic<int32_t> nCameraRequest{0};
    CameraRequestFields cameraRequest; // written and read under the process-wide lock
    std::atomic<int32_t> nPropertyRequest{0};
    PropertyRequestFields propertyRequest; // likewise

    bool IsStorageLinked() const { return nPort <= 0; }
};

// --- Texts that name servers ----------------------------------------------

// A server text as the server box holds it: "address:port" for a TCP
// server, the address alone for a storage-linked one (port 0). Leading and
// trailing blanks and tabs are removed. False when the text is empty, the
// address part is empty, or the part after ":" does not read as a port
// from 1 to 65535.
bool ParseServerText(std::string_view text, std::string& cAddress, int32_t& nPort);

// The folder-name rules of the server's camera list: blanks and tabs become
// "_", and \ / : ; * ? " < > | and control bytes are deleted.
std::string FolderNameOf(std::string_view text);

// The name as one level of the client's image tree: FolderNameOf(text),
// refused (false) when that is empty, "." or "..". Names from the network
// (a camera's "Name2") and from the user (the server text) pass here before
// they become paths.
bool SafeFolderLevel(std::string_view text, std::string& level);

// The port whose servers keep the per-server file name without a port.
inline constexpr int32_t SERVER_INI_PLAIN_PORT = 12345;

// "<data folder>/BrindleView_<address>.ini" and its ".tmp" companion (the
// settings file as it arrives). A TCP server on a port other than
// SERVER_INI_PLAIN_PORT has its own pair, "BrindleView_<address>_<port>.ini"
// and ".tmp", so that two servers on one address never share a file; the
// default port and storage-linked servers keep the name without a port, so
// files written before stay in use. The address passes FolderNameOf first,
// so it cannot leave the data folder.
std::string ServerIniPath(const std::string& cDataFolder, std::string_view cAddress, int32_t nPort);
std::string ServerTempPath(const std::string& cDataFolder, std::string_view cAddress,
                           int32_t nPort);

// --- The saved entry of [Server] <address> ----------------------------------

struct SavedEntry {
    int nFields = 0; // how many of address, host bits, Ethernet address, rest were read
    uint32_t dwAddress = 0;
    int32_t nHostBits = 0;
    uint64_t qwMacAddress = 0;
    std::string cPassword;
    uint64_t qwPasswordStamp = 0;
};

// Reads a TCP server's entry "%X/%ld/%I64X/<password>/<stamp>", or a
// storage-linked server's "<password>/<stamp>". The password part is the
// scrambled form (two hexadecimal digits a byte). With fewer than four fields
// of a TCP entry the password stays empty.
SavedEntry ParseSavedEntry(std::string_view text, bool fStorageLinked);

// The entry text of a record: the inverse of ParseSavedEntry.
std::string FormatSavedEntry(const ServerParams& psp);

// --- The camera table --------------------------------------------------------

// The formats of a "FormatList" text (common/format_list.h): reading stops
// at the first item that is not "%ldx%ldx%I64d|".
std::vector<CameraFormat> CameraFormatsOf(std::string_view text);

// What LoadCameraInfo reads from the per-server settings file.
struct ServerIniContent {
    std::vector<CameraInfo> cameras;
    bool fNoSleep = false;
    int32_t nCrypt = 0;
    std::string cStorage;
    bool fHasStorage = false; // [Settings] "Webdav" was present
};
// One pass over the text. "PathList" is read up to SAVED_ENTRY_MAX bytes.
// Stops early with the cameras read so far when *pfStop is set or memory
// runs out.
ServerIniContent ParseServerIni(std::string_view text,
                                const std::atomic<int32_t>* pfStop = nullptr);

// The camera list line: name, " [n]" when the instance number is above 1,
// blanks to 80 characters, a tab, and the section name.
std::string CameraComboLine(const CameraInfo& camera);

// nCurrentCamera kept within the table: negative becomes 0, beyond the table
// the last index (0 for an empty table).
int32_t ClampCurrentCamera(int32_t nCurrent, size_t nCameras);

// Which camera setting controls of the main window are enabled.
struct CameraControlsState {
    bool fAvailable = false; // online, current camera within the table and connected
    bool fResolution = false, fProperty = false, fBasics = false, fSensitivity = false,
         fSaveOnServer = false, fDays = false, fTimeStamp = false, fServerWide = false;
};
CameraControlsState EnableControls(const ServerParams* psp, bool fEnable, bool fPropertyDialogOpen);

// The connection state text beside the server box, and its index 0-4.
int ServerStateIndex(const ServerParams* psp);
const char* ServerStateText(int nIndex);

} // namespace brindle
