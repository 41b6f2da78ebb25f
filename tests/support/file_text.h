// Whole files as text, for tests that prepare or inspect what code wrote.
#pragma once

#include <fstream>
#include <iterator>
#include <string>

namespace brindle::test {

// The bytes of the file; empty when it cannot be read.
inline std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Replaces the file's content with `text` (the folder must exist).
inline void WriteFileText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

} // namespace brindle::test
