// INI files with the semantics of the Windows profile functions (the rules
// are in common/ini_text.h). Every call reads the file afresh, so edits from
// outside are seen at once.
//
// Writes are read-modify-write cycles serialised inside the process by one
// lock, and each replaces the file atomically (common/file_io.h): a reader
// in any thread or process sees the old or the new file, never a mix. Two
// processes writing the same file at the same moment can still lose one
// write; each program owns its own files.
//
// Error returns: 0 for success, else a Windows code (common/error_codes.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

// Settings files larger than this are refused rather than loaded.
inline constexpr size_t INI_FILE_MAX = 64u << 20;

// The whole file text. A missing file gives ERROR_FILE_NOT_FOUND_CODE and
// an empty text.
uint32_t IniReadFile(const std::string& path, std::string& text);

// The value of a key, unquoted. ERROR_FILE_NOT_FOUND_CODE when the file,
// the section or the key is missing (`value` is then empty).
uint32_t IniReadKey(const std::string& path, std::string_view section, std::string_view key,
                    std::string& value);

// Writes a key, creating the file and the section as needed; the value is
// stored as given. ERROR_INVALID_PARAMETER_CODE for names or a value that
// the file cannot hold (see IniCheckEntry); file errors as mapped codes.
uint32_t IniWriteKey(const std::string& path, std::string_view section, std::string_view key,
                     std::string_view value);

// Removes a key, or a whole section with its keys and comments. A missing
// file, section or key is not an error (0, nothing written).
uint32_t IniDeleteKey(const std::string& path, std::string_view section, std::string_view key);
uint32_t IniDeleteSection(const std::string& path, std::string_view section);

// Reads the file text, lets `edit` change it and stores the result, all
// under the lock of the writes above, so that no other write of this
// process falls between the read and the store. `edit` returns 0 to keep
// its change, or a code that is returned with nothing written. A missing
// file starts empty and is created only when the edit gives it content; an
// unchanged text is not written; a file that cannot be read is left alone
// and its read error returned.
uint32_t IniEditFile(const std::string& path, const std::function<uint32_t(std::string&)>& edit);

// Section names in file order; the keys of one section in file order.
// Empty when the file cannot be read.
std::vector<std::string> IniSectionNames(const std::string& path);
std::vector<std::string> IniSectionKeys(const std::string& path, std::string_view section);

} // namespace brindle
