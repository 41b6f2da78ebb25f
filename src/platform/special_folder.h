// Windows special-folder ids (CSIDL values) mapped to the user's XDG folders.
#pragma once

#include <cstdint>
#include <string>

namespace brindle {

// The ids that have a counterpart on Linux.
inline constexpr int CSIDL_DESKTOP = 0x00;          // XDG desktop folder
inline constexpr int CSIDL_PERSONAL = 0x05;         // XDG documents folder
inline constexpr int CSIDL_MYMUSIC = 0x0d;          // XDG music folder
inline constexpr int CSIDL_MYVIDEO = 0x0e;          // XDG videos folder
inline constexpr int CSIDL_DESKTOPDIRECTORY = 0x10; // XDG desktop folder
inline constexpr int CSIDL_TEMPLATES = 0x15;        // XDG templates folder
inline constexpr int CSIDL_APPDATA = 0x1a;          // XDG_CONFIG_HOME
inline constexpr int CSIDL_LOCAL_APPDATA = 0x1c;    // XDG_DATA_HOME
inline constexpr int CSIDL_INTERNET_CACHE = 0x20;   // XDG_CACHE_HOME
inline constexpr int CSIDL_MYPICTURES = 0x27;       // XDG pictures folder
inline constexpr int CSIDL_PROFILE = 0x28;          // the home folder

// The folder of `csidl`. Returns 0 with the path, or
// ERROR_FILE_NOT_FOUND_CODE when the id has no counterpart here or the
// user has no home folder.
uint32_t SpecialFolderPath(int csidl, std::string& path);

} // namespace brindle
