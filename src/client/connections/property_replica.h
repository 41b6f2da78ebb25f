// The remote property dialog's logic without any window: it keeps the
// replica's control table, applies descriptions and updates from the one
// server it serves, and turns the user's actions into property requests,
// each after a settling time and only once the previous request has been
// taken. Time comes from an injectable clock; the window calls Tick from a
// timer, so nothing here ever blocks the GUI thread.
#pragma once

#include "client/connections/property_description.h"
#include "platform/clock.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace brindle {

// What the replica needs from the program: the request slot of the server
// it serves, and the window that shows the dialog.
class PropertyReplicaHost {
  public:
    virtual ~PropertyReplicaHost() = default;
    // Whether the previous request has been taken by the connection thread.
    virtual bool RequestSlotFree(const void* server) = 0;
    // Fills the server's request fields for camera nCamera (the id the
    // description named) and marks the request: kind 3-6, the control's
    // kind, its server handle, the operation code and the value.
    virtual void PostRequest(const void* server, int32_t nCamera, int32_t nKind,
                             int32_t nControlKind, uint32_t hWindow, int32_t nCode, int32_t nValue,
                             const std::string& cText) = 0;
    // The window: build from the table, show a control's state again (after
    // an update, or put back after a refused action), close, busy cover.
    virtual void Build() {}
    virtual void ControlChanged(size_t /*nIndex*/) {}
    virtual void CloseDialog() {}
    virtual void ShowBusy(bool /*fShow*/) {}
    // A description was refused (the dialog stays empty).
    virtual void Refused(const std::string& /*reason*/) {}
};

inline constexpr uint32_t REPLICA_SLOT_WAIT_MS = 10000;
inline constexpr uint32_t REPLICA_SLOT_LOOK_MS = 10;
inline constexpr uint32_t REPLICA_SETTLE_MS = 1000;
inline constexpr uint32_t REPLICA_SLIDER_SETTLE_MS = 2000;
inline constexpr uint32_t REPLICA_BUSY_LIMIT_MS = 60000;
inline constexpr int32_t REPLICA_TB_THUMBTRACK = 5;
inline constexpr int32_t REPLICA_TCN_SELCHANGE = -551;

class PropertyReplica {
  public:
    PropertyReplica(PropertyReplicaHost& host, const Clock& clock) : host_(host), clock_(clock) {}

    // Opened for `server` (the property button); packets of other servers
    // are ignored until it closes. fStorageLinked: show the busy cover.
    void Open(const void* server, bool fStorageLinked, int32_t nScreenWidth = 32767,
              int32_t nScreenHeight = 32767);
    bool IsOpen() const { return server_ != nullptr; }
    const void* Server() const { return server_; }
    // A property payload from `server`: 0 description, 1 updates, 2 close.
    void Packet(const void* server, std::span<const uint8_t> payload);
    // The link to `server` went down: closes the dialog only if it serves it.
    void ServerGone(const void* server);
    // The dialog closed (by its user or by itself).
    void Close();

    const ReplicaDescription& Description() const { return description_; }
    const ReplicaControl* Control(size_t nIndex) const;

    // User actions on control nIndex; programmatic changes never call these.
    void UserClick(size_t nIndex);
    void UserSelect(size_t nIndex, int32_t nEntry);
    void UserTab(size_t nIndex, int32_t nTab);
    void UserSlider(size_t nIndex, int32_t nPosition, int32_t nCode);

    // Runs the timers: settling, waiting for the slot, the busy cover.
    void Tick();
    // Milliseconds until Tick has something to do; nullopt: nothing waits.
    std::optional<uint32_t> NextDue() const;
    bool Busy() const { return fBusy_; }

  private:
    struct Operation {
        size_t nIndex = 0;
        int32_t nKind = 0;
        int32_t nCode = 0;
        int32_t nValue = 0;
    };

    void Describe(std::span<const uint8_t> payload);
    void Update(std::span<const uint8_t> payload);
    void Offer(const Operation& op);
    void Accept(const Operation& op);
    void GiveUp(const Operation& op);
    void SendPending();
    void SetBusy(bool fBusy);
    bool Due(uint32_t nStart, uint32_t nWait) const;

    PropertyReplicaHost& host_;
    const Clock& clock_;
    const void* server_ = nullptr;
    bool fStorageLinked_ = false;
    int32_t nScreenWidth_ = 32767, nScreenHeight_ = 32767;
    ReplicaDescription description_;

    std::optional<Operation> settling_; // accepted, waiting for its settling time
    uint32_t nSettleStart_ = 0;
    uint32_t nSettleWait_ = 0;
    std::optional<Operation> waiting_; // waiting for the request slot
    uint32_t nWaitStart_ = 0;
    bool fBusy_ = false;
    uint32_t nBusyStart_ = 0;
};

} // namespace brindle
