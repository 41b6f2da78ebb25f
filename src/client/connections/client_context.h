// The client's process-wide state that the connection threads share with
// the program: where its files are, the server list and the viewer entries
// under the one process-wide lock, the suspend and resume ticks, and the
// edges (program host, clock, network) that tests replace.
#pragma once

#include "client/connections/server_params.h"
#include "image/jpeg_codec.h"
#include "imagestore/viewer_entry.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

class Clock;
class ClientHost;
class NetworkEnvironment;
class Sleeper;

// One camera's viewer record in BrindleView: the stored-image list of
// imagestore and the live picture that the connection thread decodes.
// Keyed by server and camera index; kept for the life of the context.
struct ClientViewer {
    ServerParams* psp = nullptr;
    int nCamera = 0;
    ViewerEntry entry;
    std::atomic<int32_t> nMode{0}; // 0 live: only then are received pictures decoded
    // The live picture and its capture time; guarded by the process-wide lock.
    DecodedImage picture;
    uint64_t nPictureTime = 0;
    int32_t nBrightness = 100;
};

struct ClientContext {
    ClientContext() = default;
    ClientContext(const ClientContext&) = delete;
    ClientContext& operator=(const ClientContext&) = delete;
    // Stops and joins the connection threads that still run.
    ~ClientContext();

    // Files: the data folder, BrindleView.ini in it, and the save folder of
    // received images (setting "Folder"; the data folder when empty).
    std::string cDataFolder;
    std::string cSettingsFile;
    std::string cSaveFolder;
    std::atomic<bool> fSave{true}; // setting "Save"

    ClientHost* pHost = nullptr;
    const Clock* pClock = nullptr;     // null: SystemClock()
    const Sleeper* pSleeper = nullptr; // null: SystemSleeper()
    NetworkEnvironment* pNetwork = nullptr;

    // Tick counts of the last suspend and the last resume notification, set
    // by the power layer (0 until the first one).
    std::atomic<uint32_t> nSuspendTick{0};
    std::atomic<uint32_t> nResumeTick{0};

    // The process-wide lock: the server list, the viewer entries, each
    // viewer's picture, and the replacement of a server's camera table.
    std::mutex lock;
    std::vector<std::unique_ptr<ServerParams>> servers;
    ServerParams* pCurrent = nullptr; // selected in the main window
    std::vector<std::unique_ptr<ClientViewer>> viewers;
};

const Clock& ClockOf(const ClientContext& ctx);
const Sleeper& SleeperOf(const ClientContext& ctx);

// Appends a new record for the address (cut to 255 bytes) and port, with its
// per-server settings file named. Returns null when memory is short (after
// telling the user).
ServerParams* CreateServerParams(ClientContext& ctx, std::string_view pcAddress, int32_t nPort);

// The record of an address (without regard to case) and port; null when none.
ServerParams* FindServerParams(ClientContext& ctx, std::string_view cAddress, int32_t nPort);

// The viewer entry of one camera of one server, created on first need.
// Null only when memory is short.
ClientViewer* GetImage(ClientContext& ctx, ServerParams* psp, int nCamera);

// Reads the per-server settings file into the camera table, unless
// loadCameraInfo is already 1. Always returns 1. A connection thread passes
// its stop flag: a hostile file must not hold up a stop, and a table cut
// short by the stop is not installed (loadCameraInfo stays 0).
int LoadCameraInfo(ClientContext& ctx, ServerParams& psp,
                   const std::atomic<int32_t>* pfStop = nullptr);

// Writes the saved entry of the server into BrindleView.ini [Server].
uint32_t SavePasswd(ClientContext& ctx, ServerParams& psp);

// Reads [Server] <address> into the record (start of a connection thread).
// Returns the number of fields read (see ParseSavedEntry).
int LoadSavedEntry(ClientContext& ctx, ServerParams& psp);

// The camera list of the main window: one line per camera, and the
// selected index from [Camera] <address>, clamped and written back when it
// changed. Becomes the record's nCurrentCamera.
struct CameraCombo {
    std::vector<std::string> lines;
    int32_t nSelected = 0;
};
CameraCombo SetCameraCombo(ClientContext& ctx, ServerParams& psp);

// [AutoConnect] <address>: whether the server is connected at start-up.
bool AutoConnectEnabled(const ClientContext& ctx, std::string_view cAddress);
uint32_t SetAutoConnect(const ClientContext& ctx, std::string_view cAddress, bool fOn);

// [Settings] "Server": the recently used server texts, most recent first.
std::vector<std::string> RecentServers(const ClientContext& ctx);
// Moves the text (blanks and tabs trimmed) to the top and saves the list.
uint32_t AddRecentServer(const ClientContext& ctx, std::string_view text);

} // namespace brindle
