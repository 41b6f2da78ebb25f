#include "platform/expand_path.h"

#include "common/text_utils.h"
#include "platform/special_folder.h"

#include <cstdlib>
#include <cstring>

extern char** environ;

namespace brindle {

namespace {

struct Token {
    const char* text;
    int csidl;
};

// In the order they are tried. "%MYDOCUMENTS%" is the documents folder, as
// "%PERSONAL%".
const Token kTokens[] = {
    {"%ADMINTOOLS%", 0x30},
    {"%ALTSTARTUP%", 0x1d},
    {"%APPDATA%", 0x1a},
    {"%BITBUCKET%", 0x0a},
    {"%CDBURN_AREA%", 0x3b},
    {"%COMMON_ADMINTOOLS%", 0x2f},
    {"%COMMON_ALTSTARTUP%", 0x1e},
    {"%COMMON_APPDATA%", 0x23},
    {"%COMMON_DESKTOPDIRECTORY%", 0x19},
    {"%COMMON_DOCUMENTS%", 0x2e},
    {"%COMMON_FAVORITES%", 0x1f},
    {"%COMMON_MUSIC%", 0x35},
    {"%COMMON_OEM_LINKS%", 0x3a},
    {"%COMMON_PICTURES%", 0x36},
    {"%COMMON_PROGRAMS%", 0x17},
    {"%COMMON_STARTMENU%", 0x16},
    {"%COMMON_STARTUP%", 0x18},
    {"%COMMON_TEMPLATES%", 0x2d},
    {"%COMMON_VIDEO%", 0x37},
    {"%COMPUTERSNEARME%", 0x3d},
    {"%CONNECTIONS%", 0x31},
    {"%CONTROLS%", 0x03},
    {"%COOKIES%", 0x21},
    {"%DESKTOP%", 0x00},
    {"%DESKTOPDIRECTORY%", 0x10},
    {"%DRIVES%", 0x11},
    {"%FAVORITES%", 0x06},
    {"%FONTS%", 0x14},
    {"%HISTORY%", 0x22},
    {"%INTERNET%", 0x01},
    {"%INTERNET_CACHE%", 0x20},
    {"%LOCAL_APPDATA%", 0x1c},
    {"%MYDOCUMENTS%", 0x05},
    {"%MYMUSIC%", 0x0d},
    {"%MYPICTURES%", 0x27},
    {"%MYVIDEO%", 0x0e},
    {"%NETHOOD%", 0x13},
    {"%NETWORK%", 0x12},
    {"%PERSONAL%", 0x05},
    {"%PHOTOALBUMS%", 0x45},
    {"%PLAYLISTS%", 0x3f},
    {"%PRINTERS%", 0x04},
    {"%PRINTHOOD%", 0x1b},
    {"%PROFILE%", 0x28},
    {"%PROGRAM_FILES%", 0x26},
    {"%PROGRAM_FILES_COMMON%", 0x2b},
    {"%PROGRAM_FILES_COMMONX86%", 0x2c},
    {"%PROGRAM_FILESX86%", 0x2a},
    {"%PROGRAMS%", 0x02},
    {"%RECENT%", 0x08},
    {"%RESOURCES%", 0x38},
    {"%RESOURCES_LOCALIZED%", 0x39},
    {"%SAMPLE_MUSIC%", 0x40},
    {"%SAMPLE_PLAYLISTS%", 0x41},
    {"%SAMPLE_PICTURES%", 0x42},
    {"%SAMPLE_VIDEOS%", 0x43},
    {"%SENDTO%", 0x09},
    {"%STARTMENU%", 0x0b},
    {"%STARTUP%", 0x07},
    {"%SYSTEM%", 0x25},
    {"%SYSTEMX86%", 0x29},
    {"%TEMPLATES%", 0x15},
    {"%WINDOWS%", 0x24},
};

// The value of an environment variable: the exact name first, then a name
// that differs only in ASCII case, as names are found on Windows.
const char* EnvironmentValue(std::string_view name) {
    std::string exact(name);
    if (const char* value = std::getenv(exact.c_str()))
        return value;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const char* eq = std::strchr(*entry, '=');
        if (eq != nullptr && EqualNoCase(std::string_view(*entry, eq - *entry), name))
            return eq + 1;
    }
    return nullptr;
}

// "%NAME%" replaced by the variable's value; an unknown name keeps both
// marks and the scan goes on after the second; a lone "%" stays.
std::string ExpandEnvironment(std::string_view path) {
    std::string out;
    size_t pos = 0;
    while (pos < path.size()) {
        size_t open = path.find('%', pos);
        size_t close = open == std::string_view::npos ? open : path.find('%', open + 1);
        if (close == std::string_view::npos) {
            out.append(path.substr(pos));
            break;
        }
        out.append(path.substr(pos, open - pos));
        std::string_view name = path.substr(open + 1, close - open - 1);
        const char* value = name.empty() ? nullptr : EnvironmentValue(name);
        out.append(value ? std::string_view(value) : path.substr(open, close - open + 1));
        pos = close + 1;
    }
    return out;
}

std::string ExpandTokens(std::string_view path) {
    std::string out;
    size_t pos = 0;
    while (pos < path.size()) {
        size_t mark = path.find('%', pos);
        if (mark == std::string_view::npos) {
            out.append(path.substr(pos));
            break;
        }
        out.append(path.substr(pos, mark - pos));
        size_t length = 0;
        int csidl = SpecialFolderToken(path.substr(mark), length);
        std::string folder;
        if (csidl < 0) {
            out.push_back('%');
            pos = mark + 1;
        } else {
            bool found = SpecialFolderPath(csidl, folder) == 0;
            out.append(found ? std::string_view(folder) : path.substr(mark, length));
            pos = mark + length;
        }
    }
    return out;
}

} // namespace

int SpecialFolderToken(std::string_view text, size_t& tokenLength) {
    for (const Token& token : kTokens) {
        size_t length = std::strlen(token.text);
        if (text.size() >= length && EqualNoCase(text.substr(0, length), token.text)) {
            tokenLength = length;
            return token.csidl;
        }
    }
    return -1;
}

std::string ExpandPathText(std::string_view path) {
    return ExpandTokens(ExpandEnvironment(path));
}

size_t ExpandPath(std::string_view path, char* out, size_t outSize) {
    std::string expanded = ExpandPathText(path);
    if (out != nullptr && outSize > 0) {
        size_t count = Utf8FitLength(expanded, outSize - 1);
        std::memcpy(out, expanded.data(), count);
        out[count] = '\0';
    }
    return expanded.size() + 1;
}

} // namespace brindle
