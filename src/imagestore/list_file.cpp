#include "imagestore/list_file.h"

#include "imagestore/image_path.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace brindle {

namespace {

// Reads exactly `n` decimal digits at `p`.
bool ReadDigits(const char* p, size_t n, uint32_t& value) {
    value = 0;
    for (size_t i = 0; i < n; ++i) {
        if (p[i] < '0' || p[i] > '9')
            return false;
        value = value * 10 + static_cast<uint32_t>(p[i] - '0');
    }
    return true;
}

} // namespace

bool ParseListLine(std::string_view line, uint64_t& key) {
    // "yyyymmdd/hhmmss-mmm.jpg" is 23 bytes and must follow a "/".
    constexpr size_t kTail = 23;
    if (line.size() < kTail + 1)
        return false;
    const char* p = line.data() + line.size() - kTail;
    if (p[-1] != '/' || p[8] != '/' || p[15] != '-' || std::memcmp(p + 19, ".jpg", 4) != 0)
        return false;
    uint32_t nDay, nTime, nMilli;
    if (!ReadDigits(p, 8, nDay) || !ReadDigits(p + 9, 6, nTime) || !ReadDigits(p + 16, 3, nMilli))
        return false;
    const uint64_t parsed = MakeImageKey(nDay, nTime, nMilli);
    if (!IsValidImageKey(parsed))
        return false;
    key = parsed;
    return true;
}

bool ReserveItems(ViewerEntry& entry, int64_t count) {
    if (count <= entry.nItemsRoom)
        return true;
    const int64_t room = std::max(count, entry.nItemsRoom + entry.nItemsRoom / 4);
    std::unique_ptr<uint64_t[]> items(new (std::nothrow) uint64_t[static_cast<size_t>(room)]);
    if (!items)
        return false;
    if (entry.nItemsRoom > 0)
        std::memcpy(items.get(), entry.pItems.get(),
                    static_cast<size_t>(entry.nItemsRoom) * sizeof(uint64_t));
    entry.pItems = std::move(items);
    entry.nItemsRoom = room;
    return true;
}

void StoreListedKey(ViewerEntry& entry, uint64_t key) {
    if (entry.nWritePos < entry.nValidCount) {
        if (entry.pItems[entry.nWritePos] != key) {
            entry.nValidCount = entry.nWritePos;
            entry.pItems[entry.nWritePos] = key;
        }
    } else {
        entry.pItems[entry.nWritePos] = key;
    }
    ++entry.nWritePos;
}

ListParseResult ParseListLines(ViewerEntry& entry, std::string_view bytes, uint64_t bytesToCome,
                               bool& fEstimated) {
    ListParseResult result;
    while (result.nConsumed < bytes.size()) {
        const std::string_view rest = bytes.substr(result.nConsumed);
        const size_t end = rest.find("\r\n");
        if (end == std::string_view::npos)
            break; // incomplete: left for the next read
        uint64_t key;
        if (!ParseListLine(rest.substr(0, end), key)) {
            result.fEnded = true;
            break;
        }
        if (!fEstimated || entry.nWritePos >= entry.nItemsRoom) {
            // Every line of one camera has the same length, so the bytes still
            // to come over this line's length is a close estimate.
            const uint64_t left =
                bytesToCome > result.nConsumed ? bytesToCome - result.nConsumed : 0;
            const int64_t estimate = std::max<int64_t>(1, static_cast<int64_t>(left / (end + 2)));
            fEstimated = true;
            if (!ReserveItems(entry, entry.nWritePos + estimate)) {
                result.fEnded = true;
                break;
            }
        }
        StoreListedKey(entry, key);
        result.nConsumed += end + 2;
    }
    return result;
}

ListReadResult ReadListFile(ViewerEntry& entry) {
    ListReadResult result;
    struct stat st;
    if (!entry.hListFile || ::fstat(entry.hListFile.Get(), &st) != 0) {
        result.fEnded = true;
        return result;
    }
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[LIST_READ_BUFFER]);
    if (!buffer) {
        result.fEnded = true;
        return result;
    }
    bool fEstimated = false;
    size_t filled = 0;
    for (;;) {
        const off_t at = static_cast<off_t>(entry.nListReadPos + static_cast<int64_t>(filled));
        const ssize_t n =
            ::pread(entry.hListFile.Get(), buffer.get() + filled, LIST_READ_BUFFER - filled, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            result.fEnded = true;
            break;
        }
        filled += static_cast<size_t>(n);
        const uint64_t known =
            std::max<uint64_t>(static_cast<uint64_t>(st.st_size),
                               static_cast<uint64_t>(at) + static_cast<uint64_t>(n));
        const ListParseResult parsed =
            ParseListLines(entry, std::string_view(buffer.get(), filled),
                           known - static_cast<uint64_t>(entry.nListReadPos), fEstimated);
        entry.nListReadPos += static_cast<int64_t>(parsed.nConsumed);
        filled -= parsed.nConsumed;
        std::memmove(buffer.get(), buffer.get() + parsed.nConsumed, filled);
        if (parsed.fEnded || filled == LIST_READ_BUFFER) {
            result.fEnded = true; // a line that does not parse, or one too long for any path
            break;
        }
        if (n == 0) {
            result.fAtEnd = filled == 0;
            break;
        }
    }
    if (entry.nValidCount < entry.nWritePos)
        entry.nValidCount = entry.nWritePos;
    return result;
}

} // namespace brindle
