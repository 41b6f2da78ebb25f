// Texts of result codes for log lines and message boxes.
#pragma once

#include <cstdint>
#include <string>

namespace brindle {

// The text of a code for log lines "(0x%08X-%s)": the programs' own codes
// from their table ("不明なエラー" for an own code that is not in it), system
// and socket codes from the platform's Japanese message texts, other values
// (errno values without a Windows counterpart) from strerror. Empty when
// there is no text. The text never ends with a line break.
std::string ErrorText(uint32_t code);

} // namespace brindle
