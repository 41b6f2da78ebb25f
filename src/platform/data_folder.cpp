#include "platform/data_folder.h"

#include "common/os_error.h"
#include "platform/special_folder.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace brindle {

namespace {

std::string ExecutablePath() {
    char path[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    return std::string(path, static_cast<size_t>(n));
}

} // namespace

std::string DataDirArgument(int argc, const char* const* argv) {
    const std::string_view option = "--data-dir";
    std::string folder;
    for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
        std::string_view arg = argv[i];
        if (arg == option) {
            if (i + 1 < argc && argv[i + 1] != nullptr)
                folder = argv[++i];
        } else if (arg.size() > option.size() && arg.compare(0, option.size(), option) == 0 &&
                   arg[option.size()] == '=') {
            folder = std::string(arg.substr(option.size() + 1));
        }
    }
    return folder;
}

uint32_t OpenDataFolder(std::string_view programFolder, const std::string& overrideDir,
                        std::string& folder) {
    std::filesystem::path path;
    if (!overrideDir.empty()) {
        path = overrideDir;
    } else {
        std::string documents;
        bool found = SpecialFolderPath(CSIDL_PERSONAL, documents) == 0;
        path = found ? std::filesystem::path(documents) : std::filesystem::current_path();
        path /= programFolder;
    }
    std::error_code ec;
    path = std::filesystem::absolute(path, ec).lexically_normal();
    if (!ec)
        std::filesystem::create_directories(path, ec);
    if (ec)
        return MapErrno(ec.value());
    if (!std::filesystem::is_directory(path, ec))
        return MapErrno(ENOTDIR);
    folder = path.string();
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return 0;
}

std::string ProgramFolder() {
    std::string path = ExecutablePath();
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ProgramFileTime() {
    struct stat st;
    std::string path = ExecutablePath();
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return {};
    struct tm utc;
    ::gmtime_r(&st.st_mtime, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min);
    return text;
}

} // namespace brindle
