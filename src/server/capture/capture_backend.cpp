#include "server/capture/capture_backend.h"

#include "common/error_codes.h"

namespace brindle {

// A backend that fails to enumerate must not hide the devices of the
// others; its code is returned once all have been asked.
uint32_t CombinedBackend::Enumerate(std::vector<CaptureDeviceInfo>& devices) {
    uint32_t nFirstError = 0;
    for (CaptureBackend* backend : backends_) {
        uint32_t nError = backend->Enumerate(devices);
        if (nError != 0 && nFirstError == 0)
            nFirstError = nError;
    }
    return nFirstError;
}

bool CombinedBackend::Handles(const std::string& devicePath) const {
    return Find(devicePath) != nullptr;
}

uint32_t CombinedBackend::Start(const std::string& devicePath, const CaptureFormat& wanted,
                                bool fMatchInterval, std::unique_ptr<CaptureStream>& stream,
                                std::string& hint) {
    CaptureBackend* backend = Find(devicePath);
    if (backend == nullptr)
        return ERROR_FILE_NOT_FOUND_CODE;
    return backend->Start(devicePath, wanted, fMatchInterval, stream, hint);
}

uint32_t CombinedBackend::ListControls(const std::string& devicePath,
                                       std::vector<CaptureControl>& controls) {
    CaptureBackend* backend = Find(devicePath);
    if (backend == nullptr)
        return ERROR_FILE_NOT_FOUND_CODE;
    return backend->ListControls(devicePath, controls);
}

uint32_t CombinedBackend::SetControl(const std::string& devicePath, uint32_t nId, int32_t nValue) {
    CaptureBackend* backend = Find(devicePath);
    if (backend == nullptr)
        return ERROR_FILE_NOT_FOUND_CODE;
    return backend->SetControl(devicePath, nId, nValue);
}

CaptureBackend* CombinedBackend::Find(const std::string& devicePath) const {
    for (CaptureBackend* backend : backends_) {
        if (backend->Handles(devicePath))
            return backend;
    }
    return nullptr;
}

} // namespace brindle
