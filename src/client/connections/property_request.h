// Hands a remote property dialog's request to the connection thread of its
// server through the server record's request fields.
#pragma once

#include "client/connections/client_context.h"
#include "client/connections/server_params.h"

#include <cstdint>
#include <string>

namespace brindle {

// Fills psp's property request (under the process-wide lock) and marks it
// for the camera whose id is nCamera, the camera the dialog was described
// for, whichever camera the main window shows now. False when the server
// no longer lists that camera (nothing is marked).
bool PostPropertyRequest(ClientContext& ctx, ServerParams& psp, int32_t nCamera, int32_t nKind,
                         int32_t nControlKind, uint32_t hWindow, int32_t nCode, int32_t nValue,
                         const std::string& cText);

} // namespace brindle
