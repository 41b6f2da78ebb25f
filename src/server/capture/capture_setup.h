// The capture backends of the server program: the V4L2 cameras, plus the
// test-pattern cameras when they are switched on.
#pragma once

#include "server/capture/test_camera.h"
#include "server/capture/v4l2_backend.h"

#include <memory>
#include <string>
#include <vector>

namespace brindle {

// At most this many test cameras.
inline constexpr int TEST_CAMERA_MAX = 16;

// The number of test cameras: "--test-camera [N]" or "--test-camera=N" on
// the command line (N = 1 when omitted) wins over the "TestCamera" setting
// of section "Settings" (default 0). Values are clamped to 0..16.
int TestCameraCount(const std::vector<std::string>& arguments, const std::string& settingsFile);

// All backends of the server; `backend` routes to each of them.
struct ServerBackends {
    explicit ServerBackends(int nTestCameras, const Clock& clock = SystemClock());

    V4l2Backend v4l2;
    std::unique_ptr<TestCameraBackend> testCameras; // null without test cameras
    CombinedBackend backend;
};

} // namespace brindle
