#include "server/app/server_host.h"

#include "common/log.h"
#include "server/capture/camera_control.h"

namespace brindle {

void ServerHost::CameraStartFailed(const CameraSettings& camera, uint32_t nCode,
                                   const std::string& hint) {
    LogWrite("%s\r\n", StartFailureText(camera.cName, nCode, hint).c_str());
}

void ServerHost::CameraStopFailed(const CameraSettings& camera) {
    LogWrite("%s\r\n", StopFailureText(camera.cName).c_str());
}

} // namespace brindle
