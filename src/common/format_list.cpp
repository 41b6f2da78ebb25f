#include "common/format_list.h"

#include "common/text_utils.h"

#include <new>
#include <optional>

namespace brindle {

namespace {

// "%ldx%ldx%I64d" at the start of `item`; `used` is how much it took.
std::optional<FormatListItem> ReadItem(std::string_view item, size_t& used) {
    uint64_t numbers[3] = {};
    size_t pos = 0;
    for (int i = 0; i < 3; ++i) {
        if (i > 0 && (pos >= item.size() || item[pos++] != 'x'))
            return std::nullopt;
        std::optional<ScannedNumber> number = ScanNumber(item.substr(pos), 10);
        if (!number)
            return std::nullopt;
        numbers[i] = number->value;
        pos += number->used;
    }
    used = pos;
    return FormatListItem{static_cast<int32_t>(static_cast<uint32_t>(numbers[0])),
                          static_cast<int32_t>(static_cast<uint32_t>(numbers[1])),
                          static_cast<int64_t>(numbers[2])};
}

} // namespace

std::vector<FormatListItem> ParseFormatList(std::string_view text, BadFormatItem bad,
                                            size_t maxItems) {
    std::vector<FormatListItem> formats;
    try {
        while (!text.empty() && formats.size() < maxItems) {
            size_t nBar = text.find('|');
            std::string_view item = text.substr(0, nBar);
            size_t used = 0;
            std::optional<FormatListItem> format = ReadItem(item, used);
            if (bad == BadFormatItem::Stop) {
                if (!format)
                    break;
                formats.push_back(*format);
                if (used != item.size())
                    break;
            } else if (!item.empty()) {
                formats.push_back(format.value_or(FormatListItem{}));
            }
            if (nBar == std::string_view::npos)
                break;
            text.remove_prefix(nBar + 1);
        }
    } catch (const std::bad_alloc&) {
        // The formats read so far.
    }
    return formats;
}

} // namespace brindle
