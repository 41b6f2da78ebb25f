// A client's camera settings request (PT_REQUEST): its payload layout, and
// the checks it must pass before the server takes its values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace brindle {

// Option bits at payload +4.
inline constexpr uint32_t REQUEST_USE = 0x01;
inline constexpr uint32_t REQUEST_SEND = 0x02;
inline constexpr uint32_t REQUEST_PREVIEW = 0x04;
inline constexpr uint32_t REQUEST_CHANGE = 0x08; // skip unchanged images
inline constexpr uint32_t REQUEST_SAVE = 0x10;

// The fixed fields end at +40; the font text follows up to the payload end.
inline constexpr size_t REQUEST_FIXED_SIZE = 40;
// What clients send: the fixed fields and 96 bytes of font text.
inline constexpr size_t REQUEST_PAYLOAD_SIZE = 136;

struct CameraRequest {
    uint32_t nCamera = 0; // counted from 1
    uint32_t nOptions = 0;
    uint32_t nFormat = 0;
    uint32_t nCycle = 0;
    uint32_t nSensitivity = 0;
    uint32_t nQuality = 0;
    uint32_t nTime = 0;
    uint32_t nDays = 0;
    uint32_t nCrypt = 0;
    uint32_t fNoSleep = 0;
    std::string cFont; // up to the first NUL within the payload
};

// Reads a request payload. ERROR_INVALID_PARAMETER_CODE when it is shorter
// than the fixed fields; the font text never reaches past the payload.
uint32_t ParseCameraRequest(std::span<const uint8_t> payload, CameraRequest& request);

// The request's payload bytes (REQUEST_PAYLOAD_SIZE, the font cut to fit).
void WriteCameraRequest(const CameraRequest& request, uint8_t* payload);

// 0 when the request may be taken: ERR_NO_SUCH_CAMERA for a camera number
// outside 1..nCameras, else ERROR_INVALID_PARAMETER_CODE when a value is out
// of range (algorithm 0-8, time position 0-4, sensitivity 0-9, format below
// nFormatCount, cycle non-zero, quality at most 100, days at least 1).
uint32_t CheckCameraNumber(const CameraRequest& request, int nCameras);
uint32_t CheckCameraValues(const CameraRequest& request, int nFormatCount);

} // namespace brindle
