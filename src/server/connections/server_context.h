// What the client connections share with the rest of the server: the
// server-wide settings they read, the image queue they drain, and the small
// interface through which they report to the program (the runtime, or the
// main window that drives it).
#pragma once

#include "platform/clock.h"
#include "protocol/sleeper.h"
#include "server/capture/send_queue.h"
#include "server/connections/camera_request.h"
#include "server/connections/property_remote.h"

#include <atomic>
#include <memory>
#include <cstdint>
#include <mutex>
#include <string>

namespace brindle {

// The values a settings request is checked against and compared with to
// decide whether the capture must restart.
struct CameraRequestView {
    bool fUse = false;
    bool fPreview = false;
    int nFormat = 0;
    int nFormatCount = 0;
};

// What the main window shows of the connections. Called from connection
// threads; implementations hand the values over to their own thread.
class ConnectionDisplay {
  public:
    virtual ~ConnectionDisplay() = default;
    // The peer whose connection started, the connection status, whether
    // images are going out unenciphered, and that the sent counts moved.
    virtual void PeerShown(const std::string& /*peer*/) {}
    virtual void StatusChanged(int32_t /*status*/) {}
    virtual void CipherWarning(bool /*fShow*/) {}
    virtual void SentCountsChanged() {}
};

// Implemented by the program. Every member may be called from any
// connection thread at any time, so implementations hand work over to their
// own thread instead of doing it here.
class ConnectionHost : public ConnectionDisplay {
  public:
    // The number of cameras in the camera list.
    virtual int CameraCount() = 0;
    // The current values of camera nIndex (from 0); false when there is none.
    virtual bool CameraView(int nIndex, CameraRequestView& view) = 0;
    // A valid request for camera nIndex (from 0) was accepted: the program
    // stores its values, writes the camera's keys with "Crypt" and "NoSleep",
    // and restarts the capture first when fRestart is set.
    virtual void CameraSettingsChanged(int nIndex, const CameraRequest& request, bool fRestart) = 0;
    // The own controls of camera nIndex (from 0), for its remote property
    // dialog; null when it has none to offer.
    virtual std::shared_ptr<CameraControls> CameraControlsOf(int /*nIndex*/) { return nullptr; }
};

// Limits of the "Packet" setting.
inline constexpr uint32_t PACKET_SETTING_MIN = 1024;
inline constexpr uint32_t PACKET_SETTING_MAX = 65536;

// The server password as the connections use it.
struct ServerPassword {
    std::string cPassword; // plain text; empty: no password
    uint64_t nStamp = 0;   // FILETIME when it was set, 0 when unknown
};

class ServerContext {
  public:
    ServerContext(ServerShared& shared, ConnectionHost& host, const Clock& clock = SystemClock(),
                  const Sleeper& sleeper = SystemSleeper())
        : shared(shared), host(host), clock(clock), sleeper(sleeper) {}

    ServerShared& shared;
    ConnectionHost& host;
    const Clock& clock;
    const Sleeper& sleeper;

    // The settings file whose text is the camera information. Set before
    // the first connection starts.
    std::string cSettingsFile;

    // The "Packet" setting, already clamped.
    std::atomic<uint32_t> nPacketMax{PACKET_SETTING_MAX};
    // The server-wide image cipher (0-8) and the keep-awake switch; written
    // by the program and by a client's settings request.
    std::atomic<int> nCrypt{0};
    std::atomic<bool> fNoSleep{false};

    // The one remote property dialog of the server.
    PropertyRemote property;

    void SetPassword(const ServerPassword& password) {
        std::lock_guard<std::mutex> lock(passwordLock_);
        password_ = password;
    }
    ServerPassword Password() const {
        std::lock_guard<std::mutex> lock(passwordLock_);
        return password_;
    }

    // The packet size limit, clamped once more in case a caller stored an
    // unclamped value.
    uint32_t PacketMax() const {
        uint32_t n = nPacketMax.load();
        return n < PACKET_SETTING_MIN ? PACKET_SETTING_MIN
                                      : (n > PACKET_SETTING_MAX ? PACKET_SETTING_MAX : n);
    }

  private:
    mutable std::mutex passwordLock_;
    ServerPassword password_;
};

} // namespace brindle
