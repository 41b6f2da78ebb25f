// Echoes, camera settings requests, property commands and the replies that
// answer them.
#include "common/error_codes.h"
#include "server/connections/connection_thread.h"
#include "common/little_endian.h"
#include "common/log.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace brindle {

namespace {

constexpr uint32_t RESULT_PAYLOAD_SIZE = 8;

} // namespace

bool ConnectionThread::Reply(uint16_t nType, std::span<const uint8_t> payload, bool fLog) {
    size_t need = PacketSendBufferSize(payload.size());
    try {
        if (send_.size() < need)
            send_.resize(need);
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::copy(payload.begin(), payload.end(), send_.begin() + PACKET_HEADER_SIZE);
    uint32_t err = SendPacket(rec_.packet, nType, send_, static_cast<uint32_t>(payload.size()),
                              SEND_ENCIPHER, fLog);
    return err == 0;
}

bool ConnectionThread::ReplyResult(uint16_t nType, uint32_t nCode) {
    uint8_t payload[RESULT_PAYLOAD_SIZE] = {};
    StoreLe16(payload, nType);
    StoreLe32(payload + 4, nCode);
    return Reply(PT_RESULT, payload);
}

bool ConnectionThread::HandleEcho() {
    // The payload is copied out first: the reply is built in another buffer.
    std::span<const uint8_t> payload = Payload();
    std::vector<uint8_t> copy(payload.begin(), payload.end());
    return Reply(PT_ECHO, copy);
}

bool ConnectionThread::HandleRequest() {
    CameraRequest request;
    uint32_t nResult = ParseCameraRequest(Payload(), request);
    if (nResult == 0)
        nResult = ApplyRequest(request);
    return ReplyResult(PT_REQUEST, nResult);
}

uint32_t ConnectionThread::ApplyRequest(const CameraRequest& request) {
    if (uint32_t err = CheckCameraNumber(request, ctx_.host.CameraCount()))
        return err;
    int nIndex = static_cast<int>(request.nCamera) - 1;
    CameraRequestView view;
    if (!ctx_.host.CameraView(nIndex, view))
        return ERR_NO_SUCH_CAMERA;
    if (uint32_t err = CheckCameraValues(request, view.nFormatCount))
        return err;
    bool fRestart = ((request.nOptions & REQUEST_USE) != 0) != view.fUse ||
                    ((request.nOptions & REQUEST_PREVIEW) != 0) != view.fPreview ||
                    static_cast<int>(request.nFormat) != view.nFormat;
    ctx_.nCrypt.store(static_cast<int>(request.nCrypt));
    ctx_.fNoSleep.store(request.fNoSleep != 0);
    ctx_.host.CameraSettingsChanged(nIndex, request, fRestart);
    return 0;
}

// Command 0 opens (or reopens) the camera's dialog and answers with its
// description; the others operate it and get no answer. A camera outside
// the list, or one without controls, gets an empty description.
bool ConnectionThread::HandleProperty() {
    std::span<const uint8_t> payload = Payload();
    if (payload.size() < 8)
        return true;
    if (LoadLe32(payload.data() + 4) != PROPERTY_OPEN) {
        ctx_.property.Command(payload);
        return true;
    }
    int32_t nCamera = static_cast<int32_t>(LoadLe32(payload.data()));
    std::shared_ptr<CameraControls> device;
    if (nCamera >= 1 && nCamera <= ctx_.host.CameraCount())
        device = ctx_.host.CameraControlsOf(nCamera - 1);
    std::vector<uint8_t> reply = ctx_.property.Open(nCamera, device, ctx_.PacketMax(), &rec_);
    return Reply(PT_PROPERTY, reply);
}

// Sent without the codec's own log line: the line below says more.
bool ConnectionThread::SendPropertyUpdate() {
    PropertyRemote::Update update;
    if (!ctx_.property.TakeUpdate(update))
        return true;
    if (update.nKind == PROPERTY_UPDATE_CLOSED)
        LogWrite("%sへカメラ%dプロパティクローズ送信\r\n", rec_.cPeerName.c_str(), update.nCamera);
    else
        LogWrite("%sへカメラ%dプロパティ更新%u件送信\r\n", rec_.cPeerName.c_str(), update.nCamera,
                 update.nItems);
    return Reply(PT_PROPERTY, update.payload, false);
}

} // namespace brindle
