#include "server/capture/camera_control.h"

#include "common/error_codes.h"
#include "common/log.h"

#include <cstdio>
#include <new>

namespace brindle {

std::string StartFailureText(const std::string& name, uint32_t nCode, const std::string& hint) {
    char code[16];
    std::snprintf(code, sizeof code, "%08X", nCode);
    std::string text = name + "の開始でエラーが発生しました(" + code + ")";
    if (!hint.empty())
        text += "\n" + hint;
    return text;
}

std::string StopFailureText(const std::string& name) {
    return name + "の停止でエラーが発生しました";
}

void LogCaptureReporter::StartFailed(const CameraSettings& camera, uint32_t nCode,
                                     const std::string& hint) {
    LogWrite("%s\r\n", StartFailureText(camera.cName, nCode, hint).c_str());
}

void LogCaptureReporter::StopFailed(const CameraSettings& camera) {
    LogWrite("%s\r\n", StopFailureText(camera.cName).c_str());
}

namespace {

// The format to ask for; an index outside the list (a camera without
// formats) asks for none, which keeps the device's own.
CaptureFormat SelectedFormat(const CameraSettings& settings) {
    if (settings.nFormat < 0 || size_t(settings.nFormat) >= settings.formats.size())
        return CaptureFormat{};
    return settings.formats[size_t(settings.nFormat)];
}

} // namespace

int StartCamera(CameraEntry& camera, CaptureBackend& backend, CaptureReporter& reporter) {
    CaptureState& capture = camera.capture;
    if (capture.fRunning)
        return 1;
    const CameraSettings& settings = camera.settings;
    if (settings.nConnect == 0) {
        reporter.StartFailed(settings, ERROR_FILE_NOT_FOUND_CODE, std::string());
        return 0;
    }
    CaptureFormat format = SelectedFormat(settings);
    std::string hint;
    // A still pin matches formats by size alone; a capture pin by rate too.
    uint32_t nError = 0;
    try {
        nError = backend.Start(settings.cPath, format, settings.fStill == 0, capture.stream, hint);
    } catch (const std::bad_alloc&) {
        nError = ERROR_NOT_ENOUGH_MEMORY_CODE;
    }
    if (nError != 0) {
        capture.stream.reset();
        reporter.StartFailed(settings, nError, hint);
        return 0;
    }
    if (!capture.surface.Create(format.nWidth > 0 ? format.nWidth : 1,
                                format.nHeight > 0 ? format.nHeight : 1)) {
        // As with every failed step without a code of its own, the code
        // shown is that of the last step that succeeded: 0.
        capture.stream.reset();
        reporter.StartFailed(settings, 0, std::string());
        return 0;
    }
    capture.fPreviewAtStart = settings.fPreview;
    capture.fRunning = 1;
    return 1;
}

int StopCamera(CameraEntry& camera, CaptureReporter& reporter) {
    CaptureState& capture = camera.capture;
    uint32_t nError = 0;
    if (capture.fRunning && capture.stream)
        nError = capture.stream->Stop();
    capture.fPreviewAtStart = 0;
    capture.fRunning = 0;
    capture.stream.reset();
    capture.surface.Release();
    if (nError != 0) {
        reporter.StopFailed(camera.settings);
        return 0;
    }
    return 1;
}

void StartCamerasInUse(std::vector<CameraEntry>& cameras, CaptureBackend& backend,
                       CaptureReporter& reporter) {
    for (CameraEntry& camera : cameras) {
        if (camera.settings.fUse)
            StartCamera(camera, backend, reporter);
    }
}

} // namespace brindle
