#include "client/connections/text_scan.h"

namespace brindle {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v';
}

int DigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 99;
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
        (text_[i + 1] == 'x' || text_[i + 1] == 'X') && DigitValue(text_[i + 2]) < 16)
        i += 2;
    uint64_t v = 0;
    size_t digits = 0;
    for (; i < text_.size() && DigitValue(text_[i]) < static_cast<int>(base); ++i, ++digits)
        v = v * base + static_cast<uint64_t>(DigitValue(text_[i]));
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
