#include "platform/special_folder.h"

#include "common/error_codes.h"
#include "platform/xdg.h"

namespace brindle {

namespace {

std::string FolderOf(int csidl) {
    switch (csidl) {
    case CSIDL_DESKTOP:
    case CSIDL_DESKTOPDIRECTORY:
        return XdgUserDirPath(XdgUserDir::Desktop);
    case CSIDL_PERSONAL:
        return XdgUserDirPath(XdgUserDir::Documents);
    case CSIDL_MYMUSIC:
        return XdgUserDirPath(XdgUserDir::Music);
    case CSIDL_MYVIDEO:
        return XdgUserDirPath(XdgUserDir::Videos);
    case CSIDL_MYPICTURES:
        return XdgUserDirPath(XdgUserDir::Pictures);
    case CSIDL_TEMPLATES:
        return XdgUserDirPath(XdgUserDir::Templates);
    case CSIDL_APPDATA:
        return XdgConfigHome();
    case CSIDL_LOCAL_APPDATA:
        return XdgDataHome();
    case CSIDL_INTERNET_CACHE:
        return XdgCacheHome();
    case CSIDL_PROFILE:
        return HomeFolder();
    default:
        return {};
    }
}

} // namespace

uint32_t SpecialFolderPath(int csidl, std::string& path) {
    path = FolderOf(csidl);
    return path.empty() ? ERROR_FILE_NOT_FOUND_CODE : 0;
}

} // namespace brindle
