#include "platform/display.h"

#include "common/unique_fd.h"

#include <arpa/inet.h>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>

namespace brindle {

namespace {

const char* Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

// A local stream socket at `path`; `abstract` puts it in Linux's abstract
// name space, where X servers listen too.
bool UnixSocketAnswers(const std::string& path, bool abstract) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    size_t offset = abstract ? 1 : 0;
    if (path.size() + offset >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path + offset, path.data(), path.size());
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd)
        return false;
    socklen_t length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
    return ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), length) == 0;
}

bool LoopbackPortAnswers(uint16_t nPort) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(nPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    return fd && ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address),
                           sizeof address) == 0;
}

bool WaylandAnswers(const std::string& name) {
    if (name.starts_with('/'))
        return UnixSocketAnswers(name, false);
    const char* folder = Env("XDG_RUNTIME_DIR");
    return folder != nullptr && UnixSocketAnswers(std::string(folder) + "/" + name, false);
}

} // namespace

bool XDisplayAnswers(const std::string& name, const std::string& socketFolder) {
    size_t colon = name.rfind(':');
    if (colon == std::string::npos)
        return false;
    std::string host = name.substr(0, colon);
    std::string number = name.substr(colon + 1);
    number = number.substr(0, number.find('.'));
    if (number.empty() || number.size() > 4 ||
        number.find_first_not_of("0123456789") != std::string::npos)
        return false;
    int nDisplay = std::atoi(number.c_str());
    if (host.empty() || host == "unix") {
        std::string path = socketFolder + "/X" + number;
        return UnixSocketAnswers(path, false) || UnixSocketAnswers(path, true);
    }
    if (host == "localhost" || host == "127.0.0.1")
        return nDisplay <= 65535 - 6000 && LoopbackPortAnswers(static_cast<uint16_t>(6000 + nDisplay));
    return true; // another host: Qt will say whether it answers
}

DisplayProbe ProbeDisplay() {
    DisplayProbe probe;
    if (Env("QT_QPA_PLATFORM") != nullptr) {
        probe.state = DisplayState::Reachable;
        return probe;
    }
    const char* wayland = Env("WAYLAND_DISPLAY");
    const char* x = Env("DISPLAY");
    if (wayland == nullptr && x == nullptr)
        return probe;
    if ((wayland != nullptr && WaylandAnswers(wayland)) ||
        (x != nullptr && XDisplayAnswers(x, "/tmp/.X11-unix"))) {
        probe.state = DisplayState::Reachable;
        return probe;
    }
    probe.state = DisplayState::Unreachable;
    probe.cName = x != nullptr ? x : wayland;
    return probe;
}

std::string DisplayProblem() {
    DisplayProbe probe = ProbeDisplay();
    switch (probe.state) {
    case DisplayState::Reachable:
        return {};
    case DisplayState::Unset:
        return "no display (DISPLAY or WAYLAND_DISPLAY is not set)";
    case DisplayState::Unreachable:
        break;
    }
    return "the display " + probe.cName + " does not answer";
}

} // namespace brindle
