// Single-byte character rules shared by the parsers of settings text,
// stored secrets and system tables. Bytes from 0x80 are never letters,
// digits or blanks here, so UTF-8 text passes through untouched.
// Header-only: the platform layer below this library uses it too.
#pragma once

namespace brindle {

// `c` with an ASCII capital made small; every other byte as it is.
inline char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The value of a hexadecimal digit of either case, or -1 for any other byte.
inline int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The blanks trimmed around the names and values of settings lines. A line
// ends at "\n", so it is not one of them.
inline bool IsSettingBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

} // namespace brindle
