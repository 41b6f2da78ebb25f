#include "platform/xdg.h"

#include "common/file_io.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace brindle {

namespace {

struct UserDirInfo {
    const char* variable;
    const char* fallback; // below the home folder
};

const UserDirInfo kUserDirs[] = {
    {"XDG_DESKTOP_DIR", "Desktop"},     {"XDG_DOCUMENTS_DIR", "Documents"},
    {"XDG_DOWNLOAD_DIR", "Downloads"},  {"XDG_MUSIC_DIR", "Music"},
    {"XDG_PICTURES_DIR", "Pictures"},   {"XDG_PUBLICSHARE_DIR", "Public"},
    {"XDG_TEMPLATES_DIR", "Templates"}, {"XDG_VIDEOS_DIR", "Videos"},
};

std::string AbsoluteEnv(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/')
        return {};
    return value;
}

std::string BaseDir(const char* variable, const char* belowHome) {
    std::string dir = AbsoluteEnv(variable);
    if (!dir.empty())
        return dir;
    std::string home = HomeFolder();
    return home.empty() ? std::string() : home + "/" + belowHome;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// The value of one line after "NAME=": a double-quoted shell word with
// backslash escapes, or the bare rest of the line.
std::string Unquote(std::string_view value) {
    std::string out;
    if (value.empty() || value.front() != '"') {
        while (!value.empty() && IsBlank(value.back()))
            value.remove_suffix(1);
        return std::string(value);
    }
    for (size_t i = 1; i < value.size() && value[i] != '"'; ++i) {
        if (value[i] == '\\' && i + 1 < value.size())
            ++i;
        out.push_back(value[i]);
    }
    return out;
}

// "$HOME" or "$HOME/..." relative to the home folder; absolute paths as they are.
std::optional<std::string> ResolveUserDir(const std::string& value, std::string_view home) {
    const std::string_view prefix = "$HOME";
    if (value.compare(0, prefix.size(), prefix) == 0 &&
        (value.size() == prefix.size() || value[prefix.size()] == '/')) {
        if (home.empty())
            return std::nullopt;
        return std::string(home) + value.substr(prefix.size());
    }
    if (!value.empty() && value.front() == '/')
        return value;
    return std::nullopt;
}

} // namespace

std::string HomeFolder() {
    std::string home = AbsoluteEnv("HOME");
    if (!home.empty())
        return home;
    struct passwd entry;
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] == '/')
        return found->pw_dir;
    return {};
}

std::string XdgConfigHome() {
    return BaseDir("XDG_CONFIG_HOME", ".config");
}
std::string XdgDataHome() {
    return BaseDir("XDG_DATA_HOME", ".local/share");
}
std::string XdgCacheHome() {
    return BaseDir("XDG_CACHE_HOME", ".cache");
}
std::string XdgStateHome() {
    return BaseDir("XDG_STATE_HOME", ".local/state");
}
std::string XdgRuntimeDir() {
    return AbsoluteEnv("XDG_RUNTIME_DIR");
}

std::optional<std::string> ParseUserDirs(std::string_view text, std::string_view variable,
                                         std::string_view home) {
    std::optional<std::string> result;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        std::string_view line = text.substr(pos, end == std::string_view::npos ? end : end - pos);
        pos = end == std::string_view::npos ? text.size() : end + 1;
        while (!line.empty() && IsBlank(line.front()))
            line.remove_prefix(1);
        if (line.size() <= variable.size() || line.compare(0, variable.size(), variable) != 0 ||
            line[variable.size()] != '=')
            continue;
        std::optional<std::string> dir =
            ResolveUserDir(Unquote(line.substr(variable.size() + 1)), home);
        if (dir)
            result = dir; // like the shell, a later line wins
    }
    return result;
}

std::string XdgUserDirPath(XdgUserDir dir) {
    const UserDirInfo& info = kUserDirs[static_cast<int>(dir)];
    std::string path = AbsoluteEnv(info.variable);
    if (!path.empty())
        return path;
    std::string home = HomeFolder();
    std::string config = XdgConfigHome();
    std::string text;
    if (!config.empty() && ReadWholeFile(config + "/user-dirs.dirs", 1 << 20, text) == 0) {
        if (std::optional<std::string> found = ParseUserDirs(text, info.variable, home))
            return *found;
    }
    return home.empty() ? std::string() : home + "/" + info.fallback;
}

} // namespace brindle
