// Texts of result codes for log lines and message boxes.
#pragma once

#include <cstdint>
#include <string>

namespace brindle {

// The text of a code: the programs' own codes from their table ("不明なエラー"
// for an own code that is not in it), system and socket codes from the
// platform's message texts. Empty when there is no text.
std::string ErrorText(uint32_t code);

} // namespace brindle
