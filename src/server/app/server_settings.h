// The server-wide keys of section "Settings" in BrindleHost.ini: read at
// start-up with their clamps, and the few that the server writes back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace brindle {

inline constexpr char SERVER_PROGRAM_FOLDER[] = "BrindleHost";
inline constexpr char SERVER_SETTINGS_FILE_NAME[] = "BrindleHost.ini";
inline constexpr char SERVER_LOG_FILE_NAME[] = "BrindleHost.log";
inline constexpr char SETTINGS_SECTION[] = "Settings";
inline constexpr uint32_t DEFAULT_SERVER_PORT = 12345;
// "Folder" holds at most this many bytes.
inline constexpr size_t FOLDER_TEXT_MAX = 291;

struct ServerSettings {
    std::string cFolder;   // "Folder": the image folder; empty means the data folder
    uint32_t nCrypt = 0;   // "Crypt": 0-8
    bool fNoSleep = false; // "NoSleep"
    std::string cPassword; // "Passwd", unscrambled
    uint64_t nPasswordStamp = 0;
    uint32_t nPort = DEFAULT_SERVER_PORT; // "Port"
    bool fWebdav = false;                 // "Webdav"
    int32_t nLeft = 0;                    // "Left", "Top": the window's place
    int32_t nTop = 0;
    uint32_t nPacket = 65536; // "Packet": 1024-65536
    uint32_t nMaxImage = 256; // "MaxImage": 1-256
    uint32_t nDebug = 0;      // "Debug", hexadecimal
    uint32_t nTestCamera = 0; // "TestCamera": built-in test-pattern cameras to offer
    int32_t nTestPattern = 0; // "TestPattern": what they show at first (0-3, bars to texture)
    // "CycleWorkers": threads that run the frame cycles; -1 (the default)
    // one per core, 0 the tick's own thread, else that many (at most 64).
    int32_t nCycleWorkers = -1;
};

inline constexpr int32_t CYCLE_WORKERS_MAX = 64;

// Reads every key. "Folder" falls back to `dataFolder`; "Crypt" is brought
// into 0-8 and written back when it was outside; "Packet" and "MaxImage"
// are clamped in memory only.
void ReadServerSettings(const std::string& settingsFile, const std::string& dataFolder,
                        ServerSettings& settings);

// Writes "Crypt" and "NoSleep" (after a client changed them). Returns 0 or
// the first failed write's code.
uint32_t WriteCryptAndNoSleep(const std::string& settingsFile, uint32_t nCrypt, bool fNoSleep);

// Stores a password as the window does: scrambled, in hexadecimal, with
// "/" and the FILETIME at which it was set (an empty password keeps its
// stamp too, and means no password). Returns 0 or the write's code.
uint32_t WritePassword(const std::string& settingsFile, const std::string& password,
                       uint64_t nStamp);

// Writes one key of section "Settings": a number in the key's encoding
// (SETTING_YESNO, SETTING_SIGNED or 0 for unsigned decimal), or a text.
// Returns 0 or the write's code.
uint32_t WriteServerNumber(const std::string& settingsFile, const char* pcKey, uint32_t nFlags,
                           uint32_t nValue);
uint32_t WriteServerText(const std::string& settingsFile, const char* pcKey,
                         const std::string& text);

} // namespace brindle
