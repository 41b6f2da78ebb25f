// Expansion of configured paths: environment variables written "%NAME%"
// first, then the Windows special-folder tokens ("%PERSONAL%", "%APPDATA%",
// ...) mapped to the user's XDG folders. An environment variable wins over a
// token of the same name. A "%NAME%" that is neither stays as typed, and so
// does a token whose folder has no counterpart here.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace brindle {

// Size of the output buffer that configured paths are expanded into.
inline constexpr size_t EXPAND_PATH_BUFFER = 292;

// The full expansion.
std::string ExpandPathText(std::string_view path);

// Expands into `out` (at most outSize - 1 bytes and a NUL; a multi-byte
// character is never cut) and returns the full length + 1, so a result above
// outSize means the path was cut. `out` may be null when outSize is 0.
size_t ExpandPath(std::string_view path, char* out, size_t outSize = EXPAND_PATH_BUFFER);

// The special-folder id of the token at the start of `text` ("%PERSONAL%"
// ..., compared without case) and the token's length; -1 when none.
int SpecialFolderToken(std::string_view text, size_t& tokenLength);

} // namespace brindle
