// Reading numbers out of stored texts the way the C formats "%X", "%ld" and
// "%I64X" read them (the rule of ScanNumber in common/text_utils.h): leading
// blanks, an optional sign, digits up to the first other byte, wrapping on
// overflow. Nothing is read outside the given text.
#pragma once

#include <cstdint>
#include <string_view>

namespace brindle {

class TextScan {
  public:
    explicit TextScan(std::string_view text) : text_(text) {}

    // Each returns false (and consumes nothing) when no digit follows.
    bool Hex32(uint32_t& value);
    bool Hex64(uint64_t& value);
    bool Decimal32(int32_t& value);
    bool Decimal64(int64_t& value);

    // Consumes `c` when it is the next byte.
    bool Skip(char c);

    std::string_view Rest() const { return text_.substr(pos_); }

  private:
    bool Number(unsigned base, uint64_t& value);
    std::string_view text_;
    size_t pos_ = 0;
};

// "%d"-style reading of a whole setting value: the number, or `fallback`
// when the text holds no digit.
int32_t ReadDecimal(std::string_view text, int32_t fallback);

} // namespace brindle
