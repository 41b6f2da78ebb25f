// Searches and comparisons over UTF-8 text.
//
// A multi-byte UTF-8 character is one unit: patterns match only at
// character starts and "?" takes a whole character, so the bytes of a
// multi-byte character are never taken for "/", "%", "|", "*" or "?".
// Case-insensitive comparisons fold ASCII letters only; other characters
// compare byte for byte. Invalid UTF-8 bytes count as one-byte characters.
//
// Positions are byte offsets into `text`; std::string_view::npos means none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace brindle {

// Bytes of the character that starts at `pos` (1 for ASCII and for bytes
// that start no valid sequence; never past the end of `text`).
size_t Utf8CharLength(std::string_view text, size_t pos);

// The longest prefix of at most `maxBytes` bytes that does not cut a
// multi-byte character.
size_t Utf8FitLength(std::string_view text, size_t maxBytes);

// `text` without the spaces and tabs at either end.
std::string_view TrimSpaceTab(std::string_view text);

// A number read from the start of a stored text as the C conversions "%ld",
// "%lu", "%lX" and "%I64d" read it: blanks (space, tab, CR, LF, VT, FF) are
// skipped, then an optional sign, for base 16 an optional "0x" or "0X", then
// digits up to the first byte that is not one. Every reader of numbers in
// settings files and stored entries uses this one rule:
// - more digits than the type holds wrap around (the value is kept modulo
//   2^64, so the low 32 bits are the value wrapped at 32 bits), and "-"
//   negates the result, so "-1" reads as all ones and "4294967296" as 0 in
//   32 bits;
// - text after the digits is left to the caller (`used` counts the bytes
//   read, blanks and sign included);
// - `fWrapped` tells a caller that must refuse large numbers (a port, a
//   count) that the digits did not fit 64 bits.
// nullopt when no digit follows, with nothing read. `base` is 10 or 16.
struct ScannedNumber {
    uint64_t value = 0;
    size_t used = 0;
    bool fWrapped = false;
};
std::optional<ScannedNumber> ScanNumber(std::string_view text, unsigned base);

// Equality without regard to ASCII case.
bool EqualNoCase(std::string_view a, std::string_view b);

// First character position where `pattern` occurs (0 for an empty pattern).
size_t FindText(std::string_view text, std::string_view pattern);

// As FindText, ignoring ASCII case.
size_t FindTextNoCase(std::string_view text, std::string_view pattern);

// As FindText on lower-case copies of both; positions are those of `text`.
size_t FindTextLower(std::string_view text, std::string_view pattern);

// True when `pattern` matches the whole of `text`: "*" matches any run of
// characters, "?" exactly one character, ASCII letters without case.
bool WildcardMatch(std::string_view text, std::string_view pattern);

// The value of an HTTP header line. `name` ends with ":" (compared without
// it and without case); the line must start at the beginning of `header`
// or right after a CR LF. Spaces, tabs and folded line breaks (CR LF then
// space or tab) before the value are skipped. Returns the position of the
// value's first byte (the CR of an empty value, or header.size() when the
// text ends there), or npos when there is no such line.
size_t HeaderValue(std::string_view header, std::string_view name);

} // namespace brindle
