#include "server/capture/capture_setup.h"

#include "common/settings.h"

#include <algorithm>
#include <charconv>

namespace brindle {

namespace {

constexpr char OPTION[] = "--test-camera";

// The count after the option, or -1 when `text` is not a number.
int ParseCount(std::string_view text) {
    int nCount = 0;
    auto result = std::from_chars(text.data(), text.data() + text.size(), nCount);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size())
        return -1;
    return std::clamp(nCount, 0, TEST_CAMERA_MAX);
}

} // namespace

int TestCameraCount(const std::vector<std::string>& arguments, const std::string& settingsFile) {
    const std::string withValue = std::string(OPTION) + "=";
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument.rfind(withValue, 0) == 0) {
            int nCount = ParseCount(std::string_view(argument).substr(withValue.size()));
            return nCount < 0 ? 1 : nCount;
        }
        if (argument == OPTION) {
            int nCount = i + 1 < arguments.size() ? ParseCount(arguments[i + 1]) : -1;
            return nCount < 0 ? 1 : nCount;
        }
    }
    uint32_t nDefault = 0, nSetting = 0;
    SettingRead({"Settings", "TestCamera", &nDefault, &nSetting, settingsFile.c_str(), 0});
    return int(std::min<uint32_t>(nSetting, TEST_CAMERA_MAX));
}

ServerBackends::ServerBackends(int nTestCameras, const Clock& clock) {
    backend.Add(&v4l2);
    if (nTestCameras > 0) {
        testCameras = std::make_unique<TestCameraBackend>(nTestCameras, clock);
        backend.Add(testCameras.get());
    }
}

} // namespace brindle
