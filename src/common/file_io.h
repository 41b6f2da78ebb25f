// Whole-file reads and crash-safe whole-file replacement.
//
// A file that is replaced is first written whole under a temporary name,
// flushed to disk and then renamed into place, so that its name only ever
// stands for a complete file, even after a crash or a power loss. Temporary
// names are "." + the file's name + ".tmp" + six random characters; a crash
// can leave one behind, and RemoveLeftoverTempFiles clears them at start.
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

// Replaces the file at `path` with `bytes` as above, but writes the temporary
// file in `tempFolder` (made, owner-only, when missing), which must be on the
// same file system as `path`. For files that appear in folders whose every
// entry counts, such as the dated image folders. A symbolic link at `path` is
// replaced, not followed; the new file has mode 0666 less the umask.
// Returns 0 or a mapped system code (ERROR_FILE_NOT_FOUND_CODE also when the
// folder of `path` or the parent of `tempFolder` is missing); on failure no
// temporary file is left and `path` is untouched.
uint32_t WriteFileVia(const std::string& tempFolder, const std::string& path,
                      std::string_view bytes);

// Creates an empty temporary file for `path` beside it (named as above, mode
// 0666 less the umask), open for writing. Returns 0 or a mapped system code. The caller renames it
// into place with CommitTempFile, or removes it.
uint32_t CreateTempFileFor(const std::string& path, std::string& tempPath, int& fd);

// Flushes the open temporary file `fd` to disk and renames `tempPath` to
// `path`. `fd` stays open and owned by the caller. On failure the temporary
// file is removed and `path` is untouched.
uint32_t CommitTempFile(int fd, const std::string& tempPath, const std::string& path);

// True for a name that this layer gives temporary files.
bool IsTempFileName(std::string_view name);

// Removes the temporary files that an interrupted write left directly in
// `folder` (nothing else; links are not followed). Returns how many went.
int RemoveLeftoverTempFiles(const std::string& folder);

} // namespace brindle
