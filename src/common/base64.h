// Base64 (RFC 4648, standard alphabet, padded with "=").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brindle {

std::string Base64Encode(std::string_view bytes);

// Decodes padded Base64. Returns 0, or ERROR_INVALID_PARAMETER_CODE for a
// length that is not a multiple of four, a byte outside the alphabet, or
// misplaced padding; `bytes` is empty after an error.
uint32_t Base64Decode(std::string_view text, std::string& bytes);

} // namespace brindle
