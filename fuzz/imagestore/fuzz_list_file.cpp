// The list file reader over any bytes, fed in the pieces the file read
// hands it.
//
// Input: one byte for the piece size, then the list file's bytes. The list
// never holds more than it has room for, and no call takes more bytes than
// it was given.
#include "imagestore/list_file.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace brindle;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    size_t nPiece = 1 + data[0] * 64u;
    std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    ViewerEntry entry;
    bool fEstimated = false;
    size_t at = 0, end = 0;
    while (at < bytes.size()) {
        end = std::min(bytes.size(), std::max(end, at) + nPiece);
        std::string_view window = bytes.substr(at, end - at);
        ListParseResult result = ParseListLines(entry, window, bytes.size() - at, fEstimated);
        if (result.nConsumed > window.size())
            std::abort();
        at += result.nConsumed;
        if (result.fEnded || (result.nConsumed == 0 && end == bytes.size()))
            break;
    }
    if (entry.nWritePos > entry.nItemsRoom || entry.nValidCount > entry.nItemsRoom)
        std::abort();
    return 0;
}
