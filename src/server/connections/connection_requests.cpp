// Echoes, camera settings requests, property commands and the replies that
// answer them.
#include "common/error_codes.h"
#include "server/connections/connection_thread.h"
#include "common/little_endian.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace brindle {

namespace {

constexpr uint32_t RESULT_PAYLOAD_SIZE = 8;
// A property description without a dialog: the count alone (L = 2). The
// declared payload is L + 291 bytes, as clients expect.
constexpr uint32_t PROPERTY_EMPTY_LENGTH = 2;
constexpr uint32_t PROPERTY_DECLARED_EXTRA = 291;
constexpr uint32_t PROPERTY_COMMAND_OPEN = 0;

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

// Until the camera's own dialog can be remoted, an open command gets the
// answer of a dialog that did not appear; the other commands need a dialog
// and are ignored.
bool ConnectionThread::HandleProperty() {
    std::span<const uint8_t> payload = Payload();
    if (payload.size() < 8 || LoadLe32(payload.data() + 4) != PROPERTY_COMMAND_OPEN)
        return true;
    std::vector<uint8_t> reply(PROPERTY_EMPTY_LENGTH + PROPERTY_DECLARED_EXTRA, 0);
    std::memcpy(reply.data(), payload.data(), 4);
    StoreLe32(reply.data() + 8, PROPERTY_EMPTY_LENGTH);
    return Reply(PT_PROPERTY, reply);
}

} // namespace brindle
