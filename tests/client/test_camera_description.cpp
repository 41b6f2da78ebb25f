// The description BrindleHost sends for its test camera, made by the
// server's own dialog model, for the replica's picture.
#include "server/capture/camera_control.h"
#include "server/capture/test_camera.h"
#include "server/connections/property_remote.h"

#include <memory>

std::vector<uint8_t> TestCameraDescription() {
    brindle::TestCameraBackend backend(1);
    auto controls = std::make_shared<brindle::BackendCameraControls>(backend, "testcam:0",
                                                                     brindle::TEST_CAMERA_NAME);
    brindle::PropertyRemote remote;
    int owner = 0;
    return remote.Open(1, controls, 65536, &owner);
}
