// The "FormatList" text of a camera in the settings files: one
// "<width>x<height>x<interval>|" item per capture format, the interval being
// the frame duration in 100 ns units (0 when unknown). The server writes it
// for its cameras; the client reads the copy it receives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>
#include <vector>

namespace brindle {

struct FormatListItem {
    int32_t nWidth = 0;
    int32_t nHeight = 0;
    int64_t nInterval = 0;

    bool operator==(const FormatListItem&) const = default;
};

// What reading does with an item that is not three numbers joined by "x".
enum class BadFormatItem {
    Zero, // it becomes an all-zero format; empty items are skipped
    Stop, // reading ends before it; an empty item ends it as well
};

// The items of a list text, at most `maxItems`. Numbers follow ScanNumber
// (common/text_utils.h) and are wrapped to the fields' widths; the last item
// may lack its "|". An item with text after its third number keeps the
// three numbers; with BadFormatItem::Stop reading ends after it.
std::vector<FormatListItem> ParseFormatList(std::string_view text, BadFormatItem bad,
                                            size_t maxItems = std::numeric_limits<size_t>::max());

} // namespace brindle
