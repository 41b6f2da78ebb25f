// Whole-file reads and crash-safe whole-file replacement.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace brindle {

// Reads the whole file into `bytes` (replaced). Returns 0, or a Windows
// code: ERROR_FILE_NOT_FOUND_CODE when it does not exist, another mapped
// system code when it cannot be read, ERROR_NOT_ENOUGH_MEMORY_CODE when it
// holds more than `maxBytes`. `bytes` is empty after any error.
uint32_t ReadWholeFile(const std::string& path, size_t maxBytes, std::string& bytes);

// Replaces the file at `path` with `bytes` so that no reader ever sees a
// partial file and a crash leaves either the old or the new content: the
// bytes go to a temporary file in the same folder, are flushed to disk and
// renamed over the target. A symbolic link is followed (its target is
// replaced, the link stays). An existing file keeps its permission bits; a
// new one is readable by its owner only. Returns 0 or a mapped system code;
// on failure the old file is untouched and no temporary file is left.
uint32_t WriteFileAtomically(const std::string& path, std::string_view bytes);

} // namespace brindle
