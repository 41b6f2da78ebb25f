#include "support/scripted_backend.h"

#include "common/error_codes.h"

namespace brindle {

namespace {

class ScriptedStream : public CaptureStream {
  public:
    explicit ScriptedStream(std::shared_ptr<ScriptedBackend::Script> script)
        : script_(std::move(script)) {
        ++script_->nRunning;
    }
    ~ScriptedStream() override { Release(); }

    uint32_t NewestFrame(CaptureFrame& frame) override {
        if (script_->beforeFrame)
            script_->beforeFrame();
        if (fStopped_)
            return ERROR_INVALID_PARAMETER_CODE;
        ++script_->nFrames;
        if (script_->nFrameError != 0)
            return script_->nFrameError;
        // Copied like a grabber's buffer: the buffer is reused when it can be.
        const CaptureFrame& source = script_->frame;
        frame.nWidth = source.nWidth;
        frame.nHeight = source.nHeight;
        frame.pixels.resize(source.pixels.size());
        std::copy(source.pixels.begin(), source.pixels.end(), frame.pixels.begin());
        return 0;
    }

    uint32_t Stop() override {
        Release();
        return script_->nStopError;
    }

  private:
    void Release() {
        if (!fStopped_)
            --script_->nRunning;
        fStopped_ = true;
    }

    std::shared_ptr<ScriptedBackend::Script> script_;
    bool fStopped_ = false;
};

} // namespace

ScriptedBackend::Script& ScriptedBackend::ScriptOf(const std::string& devicePath) {
    std::shared_ptr<Script>& script = scripts_[devicePath];
    if (!script)
        script = std::make_shared<Script>();
    return *script;
}

void ScriptedBackend::SetFrame(const std::string& devicePath, const CaptureFrame& frame) {
    ScriptOf(devicePath).frame = frame;
}

uint32_t ScriptedBackend::Enumerate(std::vector<CaptureDeviceInfo>& out) {
    out.insert(out.end(), devices.begin(), devices.end());
    return 0;
}

bool ScriptedBackend::Handles(const std::string& devicePath) const {
    for (const CaptureDeviceInfo& device : devices) {
        if (device.devicePath == devicePath)
            return true;
    }
    return false;
}

uint32_t ScriptedBackend::Start(const std::string& devicePath, const CaptureFormat& wanted,
                                bool fMatchInterval, std::unique_ptr<CaptureStream>& stream,
                                std::string& hint) {
    if (!Handles(devicePath))
        return ERROR_FILE_NOT_FOUND_CODE;
    Script& script = ScriptOf(devicePath);
    script.lastWanted = wanted;
    script.fLastMatchInterval = fMatchInterval;
    ++script.nStarts;
    if (script.nStartError != 0) {
        hint = script.startHint;
        return script.nStartError;
    }
    stream = std::make_unique<ScriptedStream>(scripts_[devicePath]);
    return 0;
}

uint32_t ScriptedBackend::ListControls(const std::string& devicePath,
                                       std::vector<CaptureControl>& controls) {
    if (!Handles(devicePath))
        return ERROR_FILE_NOT_FOUND_CODE;
    controls = ScriptOf(devicePath).controls;
    return 0;
}

uint32_t ScriptedBackend::SetControl(const std::string& devicePath, uint32_t nId, int32_t nValue) {
    if (!Handles(devicePath))
        return ERROR_FILE_NOT_FOUND_CODE;
    for (CaptureControl& control : ScriptOf(devicePath).controls) {
        if (control.nId == nId) {
            control.nValue = nValue;
            return 0;
        }
    }
    return ERROR_INVALID_PARAMETER_CODE;
}

} // namespace brindle
