#include "client/connections/text_scan.h"

#include "common/ascii.h"

namespace brindle {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v';
}

// The digit's value in `base`, or -1.
int DigitValue(char c, unsigned base) {
    int d = HexDigitValue(c);
    return d >= 0 && static_cast<unsigned>(d) < base ? d : -1;
}

} // namespace

// Wraps like the C conversions on overflow; the sign negates the result.
bool TextScan::Number(unsigned base, uint64_t& value) {
    size_t i = pos_;
    while (i < text_.size() && IsBlank(text_[i]))
        ++i;
    bool negative = false;
    if (i < text_.size() && (text_[i] == '+' || text_[i] == '-'))
        negative = text_[i++] == '-';
    if (base == 16 && i + 2 < text_.size() && text_[i] == '0' &&
        (text_[i + 1] == 'x' || text_[i + 1] == 'X') && DigitValue(text_[i + 2], 16) >= 0)
        i += 2;
    uint64_t v = 0;
    size_t digits = 0;
    for (; i < text_.size() && DigitValue(text_[i], base) >= 0; ++i, ++digits)
        v = v * base + static_cast<uint64_t>(DigitValue(text_[i], base));
    if (digits == 0)
        return false;
    value = negative ? 0 - v : v;
    pos_ = i;
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
