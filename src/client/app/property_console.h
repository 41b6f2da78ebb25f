// BrindleView's remote property dialog without a window: "property ..."
// lines from standard input open and work the replica, and what the replica
// shows (the dialog as built, its updates, its closing) goes to standard
// output, one line per control. Controls are named by their labels: a
// button by its text, a list or slider by the label left of it, a tab by
// its text.
//
// Threads: Packet and ServerGone come from connection threads and only
// queue; everything else runs on the program's loop, which polls WakeFd and
// calls Run.
#pragma once

#include "client/connections/property_replica.h"
#include "common/unique_fd.h"

#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace brindle {

struct ClientContext;
struct ServerParams;

class PropertyConsole : public PropertyReplicaHost {
  public:
    PropertyConsole(ClientContext& ctx, FILE* out, FILE* err, const Clock& clock = SystemClock());

    // Any thread.
    void Packet(ServerParams& psp, std::span<const uint8_t> packet);
    void ServerGone(ServerParams& psp);

    // The loop's thread. WakeFd becomes readable when something was queued.
    int WakeFd() const { return wake_.Get(); }
    // One input line; false when it is not a property command (nothing
    // was printed then).
    bool Command(const std::string& line);
    // Applies what the connection threads queued and runs the timers.
    void Run();
    // How long the loop may sleep: at most nMaxMs.
    int TimeoutMs(int nMaxMs) const;

    const PropertyReplica& Replica() const { return replica_; }

    // PropertyReplicaHost.
    bool RequestSlotFree(const void* server) override;
    void PostRequest(const void* server, int32_t nCamera, int32_t nKind, int32_t nControlKind,
                     uint32_t hWindow, int32_t nCode, int32_t nValue,
                     const std::string& cText) override;
    void Build() override;
    void ControlChanged(size_t nIndex) override;
    void CloseDialog() override;
    void ShowBusy(bool fShow) override;
    void Refused(const std::string& reason) override;

  private:
    struct Event {
        ServerParams* psp = nullptr;
        std::vector<uint8_t> payload;
        bool fGone = false; // the link went down (a packet may be empty)
    };
    // Hands an event to the loop and wakes it (connection threads).
    void Queue(Event event);

    void Open(const std::vector<std::string>& words);
    void Operate(const std::vector<std::string>& words);
    // The control of kind nKind labelled `label`; SIZE_MAX when none.
    size_t FindControl(uint8_t nKind, const std::string& label) const;
    std::string Describe(size_t nIndex) const;
    void Print(const std::string& line);
    void Error(const std::string& line);

    ClientContext& ctx_;
    FILE* out_;
    FILE* err_;
    PropertyReplica replica_;
    ServerParams* psp_ = nullptr; // the server the dialog serves

    std::mutex lock_;
    std::deque<Event> events_;
    UniqueFd wake_;
};

} // namespace brindle
