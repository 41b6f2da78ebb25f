// The server without its window: what BrindleHost's main window does at
// start-up, on its 50 ms timer and when it closes. The headless program
// drives it from its own loop; the main window drives the same runtime from
// its timer.
//
// Threads: Start, Tick and Shutdown run on one thread (the GUI thread). The
// client connections and the power layer reach the runtime through
// ConnectionHost and PowerEvents from their own threads; what they report
// is queued and carried out on the next tick. What the window must hear
// goes to the one ServerHost of RuntimeOptions.
//
// The tick decides which cameras are due and hands their frame cycles to a
// pool of workers (one per core unless "CycleWorkers" says otherwise; 0 keeps
// them on the tick's thread). What a worker's cycle reports reaches the host
// at the first tick after the cycle ended, on the runtime's thread. Before
// the runtime changes a camera (its settings, a stop or a restart) it waits
// for that camera's running cycle, and for nothing else.
#pragma once

#include "imagestore/navigation.h"
#include "imagestore/viewer_entry.h"
#include "platform/clock.h"
#include "platform/power.h"
#include "server/app/host_bridge.h"
#include "server/app/server_host.h"
#include "server/app/server_settings.h"
#include "server/capture/camera_control.h"
#include "server/capture/camera_entry.h"
#include "server/capture/frame_cycle.h"
#include "server/capture/frame_cycle_pool.h"
#include "server/capture/test_camera.h"
#include "server/capture/v4l2_backend.h"
#include "server/connections/connection_manager.h"

#include <QImage>

#include <array>
#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace brindle {

class ServerRelay;

inline constexpr uint32_t RUNTIME_TICK_MS = 50;
inline constexpr uint32_t LISTENER_RETRY_MS = 5000;
inline constexpr uint32_t KEEP_AWAKE_RENEW_MS = 30000;

struct RuntimeOptions {
    std::string cDataFolder;              // exists; the caller holds its instance lock
    std::string cBindAddress = "0.0.0.0"; // where the listener binds
    int nTestCameras = 0;                 // test-pattern cameras offered besides real ones
    bool fRealCameras = true;             // look for V4L2 cameras
    CaptureBackend* pBackend = nullptr;   // replaces both of the above (tests)
    const Clock* pClock = nullptr;        // null: the system clocks
    Power* pPower = nullptr;              // null: nothing is asked of the system
    ServerHost* pHost = nullptr;          // null: camera failures go to the log, nothing is shown
};

// How long the ticks took, in steps of 10 us up to 10 ms and of 1 ms up to
// 2 s (longer ones count in the last step), for the benchmarks.
class TickDurations {
  public:
    void Add(uint64_t nMicroseconds);
    uint64_t Count() const { return nCount_; }
    // The duration that fraction p (0-1) of the ticks did not exceed, in
    // microseconds (the upper end of its step), and the longest one.
    uint64_t Quantile(double p) const;
    uint64_t Longest() const { return nLongest_; }

  private:
    static constexpr uint64_t FINE_STEP_US = 10;
    static constexpr uint64_t FINE_STEPS = 1000;
    static constexpr uint64_t COARSE_STEP_US = 1000;
    static size_t StepOf(uint64_t nMicroseconds);
    static uint64_t StepEnd(size_t nStep);
    std::array<uint64_t, FINE_STEPS + 2000> steps_{};
    uint64_t nCount_ = 0;
    uint64_t nLongest_ = 0;
};

// The request form of a camera's settings, as the window hands its edits in.
CameraRequest CameraRequestOf(const CameraSettings& settings);

class ServerRuntime : public ConnectionHost, public PowerEvents {
  public:
    explicit ServerRuntime(RuntimeOptions options);
    ~ServerRuntime() override;
    ServerRuntime(const ServerRuntime&) = delete;
    ServerRuntime& operator=(const ServerRuntime&) = delete;

    // Reads the settings, builds the camera list, starts the cameras in use
    // and opens the listener. The log is the caller's. Returns 0, or
    // ERROR_NOT_ENOUGH_MEMORY_CODE when the camera list cannot be built.
    uint32_t Start();
    // One timer tick (every 50 ms).
    void Tick();
    // Stops every connection (joined) and every camera. Idempotent.
    void Shutdown();

    // ConnectionHost.
    int CameraCount() override;
    bool CameraView(int nIndex, CameraRequestView& view) override;
    void CameraSettingsChanged(int nIndex, const CameraRequest& request, bool fRestart) override;
    // The controls of camera nIndex's device, through the backend that
    // captures it; null for a camera outside the list.
    std::shared_ptr<CameraControls> CameraControlsOf(int nIndex) override;
    // ConnectionDisplay: passed on to the ServerHost (any thread).
    void PeerShown(const std::string& peer) override;
    void StatusChanged(int32_t nStatus) override;
    void CipherWarning(bool fShow) override;
    void SentCountsChanged() override;

    // PowerEvents.
    void PowerSuspending() override;
    void PowerResumed() override;

    // For the window and the tests, read-only. The runtime's thread only,
    // after Start:
    const std::string& SettingsFile() const { return cSettingsFile_; }
    const ServerSettings& Settings() const { return settings_; }
    const std::vector<CameraEntry>& Cameras() const { return cameras_; }
    const PowerState& PowerStateNow() const { return powerState_; }
    // Any thread, after Start:
    // The port the listener is bound to, 0 while there is none.
    uint16_t ListenerPort() const { return connections_->ListenerPort(); }
    // The client connection records as they are now.
    std::vector<ConnectionInfo> ConnectionSnapshot() { return connections_->Snapshot(); }
    // The sent and dropped counts of camera nCamera (from 0); all 0 for a
    // camera that does not exist.
    CameraCounts CountsOf(int nCamera);
    // Images waiting in the send queue, and its capacity ("MaxImage").
    uint32_t QueuedImageCount();
    uint32_t QueueCapacity();
    // The "Packet" setting as the connections use it.
    uint32_t PacketMax() const { return context_->PacketMax(); }
    const std::vector<ViewerEntry>& Viewers() const { return viewers_; }
    // The runtime's thread: frame-cycle workers (0: cycles run in the tick),
    // whether no camera has a cycle queued or running, and the durations of
    // the ticks so far.
    int CycleWorkerCount() const { return pool_ ? pool_->WorkerCount() : 0; }
    bool CyclesIdle();
    // Wall time of each tick, and the tick thread's own CPU time in it.
    const TickDurations& TickTimes() const { return tickTimes_; }
    const TickDurations& TickCpuTimes() const { return tickCpuTimes_; }

    // --- What the main window changes (the runtime's thread, after Start) ---
    // Each writes its keys to the settings file and returns 0 or the code
    // of the failed write; the value is in force either way.

    // The viewer entry of camera nCamera (from 0), null when there is none.
    ViewerEntry* Viewer(int nCamera);
    // Takes a camera's settings as edited in the window: the side effects of
    // a client's request (start, stop or restart the capture), then every
    // per-camera key. A font text that does not parse leaves the font.
    uint32_t EditCamera(int nCamera, const CameraRequest& request);
    // Replaces the stamp font of camera nCamera ("Font" text; empty for the
    // default) and writes "Font". ERROR_INVALID_PARAMETER_CODE when the text
    // does not parse.
    uint32_t SetCameraFont(int nCamera, const std::string& fontText);
    // "Port": written, and the listener reopened when it changed. Values
    // outside 1-65535 are ERROR_INVALID_PARAMETER_CODE.
    uint32_t SetPort(uint32_t nPort);
    // "Folder": at most FOLDER_TEXT_MAX bytes (longer is
    // ERROR_INVALID_PARAMETER_CODE and nothing changes).
    uint32_t SetImageFolder(const std::string& folder);
    uint32_t SetCrypt(uint32_t nCrypt);
    uint32_t SetNoSleep(bool fNoSleep);
    // The connection password, with the time it was set. Nothing is written
    // when it is the password in force.
    uint32_t SetPassword(const std::string& password, uint64_t nStamp);
    // "Left" and "Top".
    uint32_t SavePlacement(int32_t nLeft, int32_t nTop);
    // The preview picture of a running camera: its newest frame stamped
    // with the current time. Returns 0 or ComposePreview's code, or
    // ERROR_SHARING_VIOLATION_CODE while the camera's frame cycle runs on a
    // worker (the caller keeps its last picture; the tick's thread never
    // waits for an encode).
    uint32_t ComposePreviewOf(int nCamera, QImage& picture);
    // The state the connections last reported (CONNECTION_IDLE ...).
    int32_t ConnectionStatus() const;
    // The server's one remote property dialog (any thread, after Start).
    PropertyRemote& Property() { return context_->property; }

  private:
    struct PendingChange {
        int nIndex = 0;
        CameraRequest request;
        bool fRestart = false;
    };

    void MakeBackend();
    void EnsureImageFolder();
    void OpenListener();
    void PublishViews();
    void ProcessEvents();
    void ApplyChange(const PendingChange& change);
    uint32_t ApplyRequest(int nIndex, const CameraRequest& request, bool fRestart);
    void CheckResume(uint32_t nNow);
    void MakeCyclePool();
    void RunFrameCycles();
    void DispatchFrameCycles(uint32_t nNow);
    void RunHandedCycle(int nCamera);
    void NotifyQueued();
    void HoldCycle(int nCamera);
    void CheckListener(uint32_t nNow);
    void RunHourlyListing();
    void RenewKeepAwake(uint32_t nNow);

    RuntimeOptions options_;
    const Clock& clock_;
    NullPower nullPower_;
    brindle::Power& power_;
    ServerHost defaultHost_;
    ServerHost& host_;
    HostBridge bridge_; // the capture layer's and the queue's reports, to host_

    std::unique_ptr<V4l2Backend> v4l2Backend_;
    std::unique_ptr<TestCameraBackend> testBackend_;
    CombinedBackend combined_;
    CaptureBackend* backend_ = nullptr;

    std::string cSettingsFile_;
    ServerSettings settings_;
    std::unique_ptr<ServerShared> shared_;
    std::unique_ptr<ServerContext> context_;
    std::unique_ptr<ConnectionManager> connections_;
    std::unique_ptr<ServerRelay> relay_; // the storage relay, when "Webdav" is Yes
    std::vector<CameraEntry> cameras_;
    std::vector<ViewerEntry> viewers_;

    PowerState powerState_;
    ListingClock listingClock_;
    uint32_t nListenerRetryTick_ = 0;
    uint32_t nKeepAwakeTick_ = 0;
    bool fStarted_ = false;
    bool fClosing_ = false;
    bool fTimerBusy_ = false;

    // Filled by other threads, emptied by Tick.
    std::mutex eventLock_;
    std::deque<PendingChange> changes_;
    bool fSuspendEvent_ = false;
    bool fResumeEvent_ = false;
    std::vector<CameraRequestView> views_; // what requests are checked against
    // Device path and name of each camera, for its property dialog.
    std::vector<std::pair<std::string, std::string>> devices_;

    // A cycle handed to a worker: what the tick decided and what the cycle
    // reports. The worker reads and writes it only while it runs the cycle.
    struct CycleOrder {
        CycleOrder(const Clock& clock, ServerShared& shared)
            : context{clock, shared, std::string(), power, events} {}
        uint32_t nNow = 0;      // the tick the cycle began at
        uint32_t nLastTick = 0; // the cycle clock before, for a cycle taken back
        PowerState power;
        HeldCycleEvents events;
        FrameCycleContext context;
    };
    std::vector<std::unique_ptr<CycleOrder>> orders_;
    TickDurations tickTimes_;
    TickDurations tickCpuTimes_;
    std::unique_ptr<FrameCyclePool> pool_; // last: its workers use what is above
};

} // namespace brindle
