#include "server/connections/camera_request.h"

#include "common/error_codes.h"
#include "common/little_endian.h"

#include <algorithm>
#include <cstring>

namespace brindle {

uint32_t ParseCameraRequest(std::span<const uint8_t> payload, CameraRequest& request) {
    if (payload.size() < REQUEST_FIXED_SIZE)
        return ERROR_INVALID_PARAMETER_CODE;
    const uint8_t* p = payload.data();
    request.nCamera = LoadLe32(p + 0);
    request.nOptions = LoadLe32(p + 4);
    request.nFormat = LoadLe32(p + 8);
    request.nCycle = LoadLe32(p + 12);
    request.nSensitivity = LoadLe32(p + 16);
    request.nQuality = LoadLe32(p + 20);
    request.nTime = LoadLe32(p + 24);
    request.nDays = LoadLe32(p + 28);
    request.nCrypt = LoadLe32(p + 32);
    request.fNoSleep = LoadLe32(p + 36);
    std::span<const uint8_t> font = payload.subspan(REQUEST_FIXED_SIZE);
    auto end = std::find(font.begin(), font.end(), uint8_t{0});
    request.cFont.assign(font.begin(), end);
    return 0;
}

void WriteCameraRequest(const CameraRequest& request, uint8_t* payload) {
    std::memset(payload, 0, REQUEST_PAYLOAD_SIZE);
    const uint32_t values[] = {
        request.nCamera,  request.nOptions, request.nFormat, request.nCycle, request.nSensitivity,
        request.nQuality, request.nTime,    request.nDays,   request.nCrypt, request.fNoSleep};
    for (size_t i = 0; i < std::size(values); ++i)
        StoreLe32(payload + 4 * i, values[i]);
    size_t n = std::min(request.cFont.size(), REQUEST_PAYLOAD_SIZE - REQUEST_FIXED_SIZE - 1);
    std::memcpy(payload + REQUEST_FIXED_SIZE, request.cFont.data(), n);
}

uint32_t CheckCameraNumber(const CameraRequest& request, int nCameras) {
    if (request.nCamera < 1 || nCameras < 1 || request.nCamera > static_cast<uint32_t>(nCameras))
        return ERR_NO_SUCH_CAMERA;
    return 0;
}

uint32_t CheckCameraValues(const CameraRequest& request, int nFormatCount) {
    bool fValid = request.nCrypt <= 8 && request.nTime <= 4 && request.nSensitivity <= 9 &&
                  nFormatCount > 0 && request.nFormat < static_cast<uint32_t>(nFormatCount) &&
                  request.nCycle != 0 && request.nQuality <= 100 && request.nDays >= 1;
    return fValid ? 0 : ERROR_INVALID_PARAMETER_CODE;
}

} // namespace brindle
