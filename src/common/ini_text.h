// INI text with the semantics of the Windows profile functions, as pure
// functions over bytes (no file access; common/ini_file.h adds the files).
//
// Reading rules:
// - A line whose first non-blank byte is "[" and that holds a "]" starts a
//   section; the name is what lies between the "[" and the last "]" on the
//   line, without surrounding blanks (so "[http://[::1]:80/dav]" works).
// - A line holding "=" is a key: the name before the first "=", the value
//   after it, both without surrounding blanks. A line whose first non-blank
//   byte is ";" is a comment. Other lines are kept but mean nothing.
// - Section and key names are compared without regard to ASCII case and
//   surrounding blanks; the first matching section is the only one searched,
//   and the first matching key in it wins.
// - A value of two or more bytes that begins and ends with the same quotation
//   mark (" or ') loses that one pair on reading.
// - Blanks are space, tab, CR, VT and FF. Any bytes are accepted: binary
//   data, NULs, huge lines, no final line end.
//
// Editing keeps every other line byte for byte, including comments, blank
// lines, odd spacing and the file's line ends; new lines take the line end
// of the file's first line ("\n" for a text without one).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace brindle {

// The value of `key` in `section`, unquoted; nullopt when the section or
// key is missing.
std::optional<std::string> IniTextGet(std::string_view text, std::string_view section,
                                      std::string_view key);

// 0 when a section and key name and a value can be stored so that they read
// back as written; ERROR_INVALID_PARAMETER_CODE otherwise: an empty name, a
// CR or LF anywhere (which would inject lines), a "=" in the key, or a key
// that starts with "[" or ";". The value is stored raw; surrounding blanks
// and one pair of quotes are lost on reading unless the caller quotes it.
uint32_t IniCheckEntry(std::string_view section, std::string_view key, std::string_view value);

// Sets `key` in `section` to `value`: the value part of an existing key line
// is replaced (what precedes it on the line stays), a new key goes after the
// last key of the section, a new section is appended at the end. Returns 0,
// or the code of IniCheckEntry with `text` unchanged.
uint32_t IniTextSet(std::string& text, std::string_view section, std::string_view key,
                    std::string_view value);

// Removes the line of `key` in `section`. Returns true when a line went.
bool IniTextDeleteKey(std::string& text, std::string_view section, std::string_view key);

// Removes the first section named `section`: its header and every line up
// to the next section header. Returns true when a section went.
bool IniTextDeleteSection(std::string& text, std::string_view section);

// The section names in file order (duplicates included, as written).
std::vector<std::string> IniTextSections(std::string_view text);

// The key names of the first section named `section`, in file order.
std::vector<std::string> IniTextKeys(std::string_view text, std::string_view section);

// The values of a text read in one pass, for callers that look up many keys
// (IniTextGet searches the whole text for every key). Lookups give what
// IniTextGet gives. The index points into `text`, which must outlive it.
class IniIndex {
  public:
    explicit IniIndex(std::string_view text);
    std::optional<std::string> Get(std::string_view section, std::string_view key) const;

  private:
    using Keys = std::unordered_map<std::string, std::string_view>;
    std::unordered_map<std::string, Keys> sections_; // by lower-cased name
};

// One key to set by IniTextSetMany.
struct IniEntry {
    std::string section;
    std::string key;
    std::string value;
};

// Gives the text that IniTextSet would give for each entry in turn (entries
// that IniCheckEntry refuses are skipped), in one pass over the text.
void IniTextSetMany(std::string& text, const std::vector<IniEntry>& entries);

// Removes one pair of matching surrounding quotes, as reading does.
std::string_view IniUnquote(std::string_view value);

// ASCII-case-insensitive equality (bytes from 0x80 compare exactly).
bool IniNameEqual(std::string_view a, std::string_view b);

} // namespace brindle
