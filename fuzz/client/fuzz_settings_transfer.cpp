// The settings file a server sends in connect packets, over any bytes: the
// chunk head, then the copy of the server's settings into the per-server
// settings file's text.
//
// Input: the first chunk payload's size (two bytes little-endian), the
// payload, then the server's settings text.
#include "client/connections/reception.h"
#include "common/ini_text.h"

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

using namespace brindle;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    size_t n = data[0] | (size_t{data[1]} << 8);
    std::span<const uint8_t> rest(data + 2, size - 2);
    if (n > rest.size())
        n = rest.size();
    SettingsChunk chunk;
    if (ParseSettingsChunk(rest.first(n), chunk) == 0 &&
        (chunk.bytes.data() < rest.data() || chunk.bytes.data() + chunk.bytes.size() > rest.data() + n))
        std::abort();

    std::string_view serverText(reinterpret_cast<const char*>(rest.data() + n), rest.size() - n);
    std::string iniText;
    CopyServerSettings(serverText, iniText);
    IniTextSections(iniText);
    return 0;
}
