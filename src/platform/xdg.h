// The user's folders after the XDG Base Directory and user-dirs conventions.
// Every call reads the environment afresh; nothing is cached. A folder is
// returned whether it exists or not.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brindle {

// $HOME, else the home folder of the user's account; empty when neither.
std::string HomeFolder();

// $XDG_CONFIG_HOME, $XDG_DATA_HOME, $XDG_CACHE_HOME, $XDG_STATE_HOME when set
// to an absolute path; else ~/.config, ~/.local/share, ~/.cache and
// ~/.local/state. Empty when there is no home folder either.
std::string XdgConfigHome();
std::string XdgDataHome();
std::string XdgCacheHome();
std::string XdgStateHome();

// $XDG_RUNTIME_DIR when set to an absolute path, else empty.
std::string XdgRuntimeDir();

enum class XdgUserDir {
    Desktop,
    Documents,
    Download,
    Music,
    Pictures,
    PublicShare,
    Templates,
    Videos
};

// A user folder: the environment variable (XDG_DOCUMENTS_DIR, ...) when it
// holds an absolute path, else its line in "$XDG_CONFIG_HOME/user-dirs.dirs",
// else ~/Desktop, ~/Documents, ~/Downloads, ~/Music, ~/Pictures, ~/Public,
// ~/Templates or ~/Videos. Empty when there is no home folder.
std::string XdgUserDirPath(XdgUserDir dir);

// The value of `variable` (for example "XDG_DOCUMENTS_DIR") in the text of a
// user-dirs.dirs file: the last line `NAME="$HOME/..."` or `NAME="/..."`,
// with shell escapes undone and "$HOME" replaced by `home`. nullopt when the
// variable has no valid line.
std::optional<std::string> ParseUserDirs(std::string_view text, std::string_view variable,
                                         std::string_view home);

} // namespace brindle
