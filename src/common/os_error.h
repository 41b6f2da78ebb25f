// POSIX errno values mapped into the Windows code space that log lines,
// result packets and the logic above use (see common/error_codes.h).
#pragma once

#include <cstdint>

namespace brindle {

// Maps an errno value; values without a Windows counterpart pass unchanged.
uint32_t MapErrno(int err);

// MapErrno(errno), for use right after a failed call.
uint32_t LastOsError();

// The Japanese message text of a system or socket code in the Windows code
// space (the programs' logs are Japanese); nullptr for a code without one.
// The text is static and has no line end.
const char* SystemErrorText(uint32_t code);

} // namespace brindle
