#include "client/connections/text_scan.h"

#include "common/text_utils.h"

namespace brindle {

// The one number rule of the stored texts (ScanNumber).
bool TextScan::Number(unsigned base, uint64_t& value) {
    std::optional<ScannedNumber> number = ScanNumber(Rest(), base);
    if (!number)
        return false;
    value = number->value;
    pos_ += number->used;
    return true;
}

bool TextScan::Hex32(uint32_t& value) {
    uint64_t v = 0;
    if (!Number(16, v))
        return false;
    value = static_cast<uint32_t>(v);
    return true;
}

bool TextScan::Hex64(uint64_t& value) {
    return Number(16, value);
}

bool TextScan::Decimal32(int32_t& value) {
    uint64_t v = 0;
    if (!Number(10, v))
        return false;
    value = static_cast<int32_t>(static_cast<uint32_t>(v));
    return true;
}

bool TextScan::Decimal64(int64_t& value) {
    uint64_t v = 0;
    if (!Number(10, v))
        return false;
    value = static_cast<int64_t>(v);
    return true;
}

bool TextScan::Skip(char c) {
    if (pos_ < text_.size() && text_[pos_] == c) {
        ++pos_;
        return true;
    }
    return false;
}

int32_t ReadDecimal(std::string_view text, int32_t fallback) {
    TextScan scan(text);
    int32_t value = 0;
    return scan.Decimal32(value) ? value : fallback;
}

} // namespace brindle
