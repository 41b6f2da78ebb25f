// Property packets from a server, over any bytes: read as a description
// and as an update, and fed to a replica that has a dialog open.
#include "client/connections/property_replica.h"

#include <cstdint>
#include <span>
#include <string>

using namespace brindle;

namespace {

class QuietHost : public PropertyReplicaHost {
  public:
    bool RequestSlotFree(const void*) override { return true; }
    void PostRequest(const void*, int32_t, int32_t, int32_t, uint32_t, int32_t, int32_t,
                     const std::string&) override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::span<const uint8_t> payload(data, size);
    ReplicaDescription description;
    std::string reason;
    ParsePropertyDescription(payload, 1920, 1080, description, reason);
    std::vector<ReplicaUpdateItem> items;
    ParsePropertyUpdate(payload, items);
    ManualClock clock;
    QuietHost host;
    PropertyReplica replica(host, clock);
    int server = 0;
    replica.Open(&server, true);
    replica.Packet(&server, payload);
    for (size_t i = 0; i < replica.Description().controls.size(); ++i) {
        replica.UserClick(i);
        replica.UserSlider(i, 7, 8);
    }
    clock.SetTick(3000);
    replica.Tick();
    replica.Packet(&server, payload);
    return 0;
}
