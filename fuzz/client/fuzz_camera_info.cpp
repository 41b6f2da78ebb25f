// The camera information BrindleView reads from a per-server settings file
// (written from what the server sent), over any bytes.
#include "client/connections/server_params.h"

#include <cstdint>
#include <string_view>

using namespace brindle;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    ServerIniContent content = ParseServerIni(text);
    for (const CameraInfo& camera : content.cameras)
        CameraComboLine(camera);
    return 0;
}
