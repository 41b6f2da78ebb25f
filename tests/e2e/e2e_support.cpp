#include "e2e/e2e_support.h"

#include "support/file_text.h"

#include <filesystem>

namespace brindle::test {

namespace fs = std::filesystem;

std::string HostProgram() {
    return BRINDLE_HOST_PROGRAM;
}
std::string ViewProgram() {
    return BRINDLE_VIEW_PROGRAM;
}

std::map<std::string, std::string> ImageFiles(const std::string& root) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        if (it->is_regular_file() && it->path().extension() == ".jpg")
            files[fs::relative(it->path(), root).string()] = ReadFileText(it->path().string());
    }
    return files;
}

} // namespace brindle::test
