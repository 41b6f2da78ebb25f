// Helpers shared by the imagestore tests.
#pragma once

#include "support/file_text.h"

#include <filesystem>
#include <string>

namespace brindle::test {

// Writes `text` to `path`, creating the folders on the way: the tests build
// camera trees file by file.
inline void WriteTreeFile(const std::string& path, const std::string& text = "x") {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    WriteFileText(path, text);
}

} // namespace brindle::test
