// A server core on loopback for the connection tests: the shared image
// state, a context, a host that records what the connections report, and
// the connection manager listening on a free port of 127.0.0.1.
#pragma once

#include "common/log.h"
#include "server/connections/connection_manager.h"
#include "support/file_text.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace brindle::test {

class RecordingHost : public ConnectionHost {
  public:
    struct Change {
        int nIndex = 0;
        CameraRequest request;
        bool fRestart = false;
    };

    std::vector<CameraRequestView> cameras{CameraRequestView{false, false, 0, 3}};

    int CameraCount() override {
        std::lock_guard<std::mutex> lock(lock_);
        return static_cast<int>(cameras.size());
    }
    bool CameraView(int nIndex, CameraRequestView& view) override {
        std::lock_guard<std::mutex> lock(lock_);
        if (nIndex < 0 || static_cast<size_t>(nIndex) >= cameras.size())
            return false;
        view = cameras[static_cast<size_t>(nIndex)];
        return true;
    }
    void CameraSettingsChanged(int nIndex, const CameraRequest& request, bool fRestart) override {
        std::lock_guard<std::mutex> lock(lock_);
        changes_.push_back(Change{nIndex, request, fRestart});
    }
    std::vector<Change> Changes() {
        std::lock_guard<std::mutex> lock(lock_);
        return changes_;
    }
    // The controls each camera offers its property dialog (none unless set).
    std::shared_ptr<CameraControls> CameraControlsOf(int nIndex) override {
        std::lock_guard<std::mutex> lock(lock_);
        return nIndex >= 0 && size_t(nIndex) < controls.size() ? controls[size_t(nIndex)] : nullptr;
    }
    std::vector<std::shared_ptr<CameraControls>> controls;

  private:
    std::mutex lock_;
    std::vector<Change> changes_;
};

class ServerFixture {
  public:
    explicit ServerFixture(const Clock& clock = SystemClock())
        : context(shared, host, clock), manager(context, "127.0.0.1") {
        LogOpen(dir.File("BrindleHost.log"));
        context.cSettingsFile = dir.File("BrindleHost.ini");
        WriteFileText(context.cSettingsFile, "[Settings]\r\nPort=0\r\n");
        shared.SetCameras({"Cam A", "Cam B"});
    }
    ~ServerFixture() {
        manager.StopAll();
        LogClose();
    }

    uint16_t Listen() {
        manager.OpenListener(0);
        return manager.ListenerPort();
    }

    // Queues an image as the frame cycle would.
    void Queue(int32_t nCamera, std::vector<uint8_t> jpeg, uint64_t ftCapture) {
        {
            std::lock_guard<std::mutex> lock(shared.mainLock);
            shared.AppendImage(SendQueueEntry{nCamera, std::move(jpeg), ftCapture});
        }
        manager.NotifyWork();
    }
    uint32_t QueueCount() {
        std::lock_guard<std::mutex> lock(shared.mainLock);
        return shared.queue.Count();
    }
    bool PeerRunning(const std::string& peer) {
        for (const ConnectionInfo& info : manager.Snapshot()) {
            if (info.cPeerName == peer)
                return info.fRunning;
        }
        return false;
    }
    std::string LogText() {
        LogFlush();
        return ReadFileText(dir.File("BrindleHost.log"));
    }

    TempDir dir;
    ServerShared shared;
    RecordingHost host;
    ServerContext context;
    ConnectionManager manager;
};

} // namespace brindle::test
