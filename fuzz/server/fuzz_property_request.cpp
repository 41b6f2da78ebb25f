// Property commands from a client, over any bytes: the dialog of a camera
// with every kind of control is opened, the first input byte picks the
// window the command names, the rest is the command's payload.
#include "server/capture/camera_control.h"
#include "server/connections/property_remote.h"

#include "common/little_endian.h"

#include <cstdint>
#include <span>
#include <vector>

using namespace brindle;

namespace {

class FuzzControls : public CameraControls {
  public:
    FuzzControls() {
        controls.resize(4);
        controls[0] = {1, "User", "Level", ControlType::Integer, -36000, 36000, 7, 0, 5, {}, 0};
        controls[1] = {2, "User", "Flag", ControlType::Boolean, 0, 1, 1, 0, 1, {}, 0};
        controls[2] = {3, "Other", "Mode", ControlType::Menu, 0, 2, 1, 0, 2, {"a", "", "c"}, 0};
        controls[3] = {4, "Other", "Go", ControlType::Button, 0, 0, 0, 0, 0, {}, 0};
    }
    std::string Name() const override { return "Fuzz"; }
    uint32_t List(std::vector<CaptureControl>& out) override {
        out = controls;
        return 0;
    }
    uint32_t Set(uint32_t nId, int32_t nValue) override {
        for (CaptureControl& c : controls) {
            if (c.nId == nId)
                c.nValue = nValue;
        }
        return nId == 2 ? 22 : 0;
    }
    std::vector<CaptureControl> controls;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    PropertyRemote remote;
    int owner = 0;
    remote.Open(1, std::make_shared<FuzzControls>(), 1024u + data[0] * 64u, &owner);
    std::vector<uint8_t> payload(data + 1, data + size);
    if (payload.size() >= 20) {
        remote.WithDialog([&](PropertyDialog& dialog, CameraControls&) {
            const auto& windows = dialog.Windows();
            if (!windows.empty())
                StoreLe32(payload.data() + 16, windows[data[0] % windows.size()].hWindow);
        });
    }
    remote.Command(payload);
    PropertyRemote::Update update;
    while (remote.TakeUpdate(update)) {
    }
    remote.CloseFromView();
    remote.TakeUpdate(update);
    return 0;
}
