// A scripted camera for the property dialog tests: controls of every type
// that the test sets, and a device that may refuse, round or hold up sets.
#pragma once

#include "server/capture/camera_control.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace brindle::test {

// A device whose controls the test sets; sets may be refused or rounded.
class ScriptedControls : public CameraControls {
  public:
    ScriptedControls() = default;
    ScriptedControls(const ScriptedControls& o)
        : controls(o.controls), nRefuse(o.nRefuse), nRoundTo(o.nRoundTo), nSets(o.nSets) {}
    ScriptedControls& operator=(const ScriptedControls& o) {
        controls = o.controls, nRefuse = o.nRefuse, nRoundTo = o.nRoundTo, nSets = o.nSets;
        return *this;
    }
    std::vector<CaptureControl> controls;
    uint32_t nRefuse = 0; // control id whose sets are refused
    int32_t nRoundTo = 1; // sets of integers are rounded down to this step
    int nSets = 0;

    std::string Name() const override { return "Cam A"; }
    uint32_t List(std::vector<CaptureControl>& out) override {
        out = controls;
        return 0;
    }
    uint32_t Set(uint32_t nId, int32_t nValue) override {
        HoldIfAsked();
        ++nSets;
        if (nId == nRefuse)
            return 22;
        for (CaptureControl& c : controls) {
            if (c.nId == nId)
                c.nValue = c.type == ControlType::Integer ? nValue - nValue % nRoundTo : nValue;
        }
        return 0;
    }
    // Holding: the next Set waits (reporting that it waits) until Release.
    void Hold() {
        std::lock_guard<std::mutex> g(holdLock_);
        fHold_ = true;
    }
    bool WaitHeld() {
        std::unique_lock<std::mutex> g(holdLock_);
        return holdCv_.wait_for(g, std::chrono::seconds(20), [&] { return fWaiting_; });
    }
    void Release() {
        std::lock_guard<std::mutex> g(holdLock_);
        fHold_ = false;
        holdCv_.notify_all();
    }
    CaptureControl& Control(uint32_t nId) {
        return *std::find_if(controls.begin(), controls.end(),
                             [&](const CaptureControl& c) { return c.nId == nId; });
    }

  private:
    void HoldIfAsked() {
        std::unique_lock<std::mutex> g(holdLock_);
        if (!fHold_)
            return;
        fWaiting_ = true;
        holdCv_.notify_all();
        holdCv_.wait(g, [&] { return !fHold_; });
        fWaiting_ = false;
    }
    std::mutex holdLock_;
    std::condition_variable holdCv_;
    bool fHold_ = false;
    bool fWaiting_ = false;
};

inline CaptureControl Integer(uint32_t nId, const char* cls, const char* name, int32_t lo,
                              int32_t hi, int32_t v) {
    CaptureControl c;
    c.nId = nId, c.className = cls, c.name = name, c.type = ControlType::Integer;
    c.nMinimum = lo, c.nMaximum = hi, c.nStep = 1, c.nValue = v;
    return c;
}

inline CaptureControl Other(uint32_t nId, const char* cls, const char* name, ControlType type,
                            int32_t v, std::vector<std::string> menu = {}) {
    CaptureControl c;
    c.nId = nId, c.className = cls, c.name = name, c.type = type, c.nValue = v;
    c.nMaximum = menu.empty() ? 1 : int32_t(menu.size()) - 1;
    c.menu = std::move(menu);
    return c;
}

// Every control type on two tabs: Brightness -36,000..36,000 at 100,
// Show Time ticked, Pattern (value 2, the skipped value 1 has no text),
// Reset, a 300-entry Zoom menu at entry 299.
inline ScriptedControls Camera() {
    ScriptedControls d;
    std::vector<std::string> zoom;
    for (int i = 0; i < 300; ++i)
        zoom.push_back("z" + std::to_string(i));
    d.controls = {Integer(1, "User", "Brightness", -36000, 36000, 100),
                  Other(2, "User", "Show Time", ControlType::Boolean, 1),
                  Other(3, "Camera", "Pattern", ControlType::Menu, 2, {"Bars", "", "Checker"}),
                  Other(4, "Camera", "Reset", ControlType::Button, 0),
                  Other(5, "Camera", "Zoom", ControlType::Menu, 299, zoom)};
    return d;
}

} // namespace brindle::test
