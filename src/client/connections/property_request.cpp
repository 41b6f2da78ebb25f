#include "client/connections/property_request.h"

#include <mutex>

namespace brindle {

bool PostPropertyRequest(ClientContext& ctx, ServerParams& psp, int32_t nCamera, int32_t nKind,
                         int32_t nControlKind, uint32_t hWindow, int32_t nCode, int32_t nValue,
                         const std::string& cText) {
    std::lock_guard<std::mutex> guard(ctx.lock);
    int32_t nIndex = 0;
    for (size_t i = 0; i < psp.cameras.size(); ++i) {
        if (psp.cameras[i].nCameraId == nCamera) {
            nIndex = static_cast<int32_t>(i) + 1;
            break;
        }
    }
    if (nIndex == 0)
        return false;
    PropertyRequestFields& r = psp.propertyRequest;
    r.nKind = nKind;
    r.anFields = {nControlKind, static_cast<int32_t>(hWindow), 0, nCode, nValue};
    r.cControlText = cText;
    // Written last: the connection thread takes the request when it sees it.
    psp.nPropertyRequest.store(nIndex);
    return true;
}

} // namespace brindle
