// Whether a window can be shown: a display named in the environment that
// answers. Qt ends the process when its platform plugin cannot reach the
// display it was told about (a DISPLAY left over from an ended ssh or Xvfb
// session), so the programs ask first and say what is wrong.
#pragma once

#include <string>

namespace brindle {

enum class DisplayState {
    Reachable, // a display answers, or QT_QPA_PLATFORM chooses the platform
    Unset,     // neither DISPLAY nor WAYLAND_DISPLAY is set
    Unreachable,
};

struct DisplayProbe {
    DisplayState state = DisplayState::Unset;
    std::string cName; // the display that did not answer
};

// Looks at QT_QPA_PLATFORM, WAYLAND_DISPLAY (under XDG_RUNTIME_DIR) and
// DISPLAY. Only local displays are tried (":N", "unix:N", loopback host
// names); one on another host is taken as reachable.
DisplayProbe ProbeDisplay();

// Empty when a window can be shown, else why not, for a message.
std::string DisplayProblem();

// The X server of DISPLAY text `name` answers; `socketFolder` is where its
// local sockets live (/tmp/.X11-unix). Exposed for tests.
bool XDisplayAnswers(const std::string& name, const std::string& socketFolder);

} // namespace brindle
