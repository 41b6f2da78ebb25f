#include "platform/power.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace brindle {

namespace {

constexpr char SYSTEM_BUS_SOCKET[] = "/run/dbus/system_bus_socket";

bool FindInPath(const std::string& name) {
    const char* pcPath = ::getenv("PATH");
    std::string path = pcPath != nullptr ? pcPath : "/usr/bin:/bin";
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t end = path.find(':', pos);
        if (end == std::string::npos)
            end = path.size();
        std::string candidate = path.substr(pos, end - pos) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return true;
        pos = end + 1;
    }
    return false;
}

} // namespace

InhibitorPower::InhibitorPower(std::vector<std::string> command) : command_(std::move(command)) {}

InhibitorPower::~InhibitorPower() {
    Release();
}

std::vector<std::string> InhibitorPower::DefaultCommand() {
    return {"systemd-inhibit",        "--what=sleep:idle", "--who=BrindleHost",
            "--why=Serving a client", "--mode=block",      "cat"};
}

void InhibitorPower::SetExecutionState(uint32_t nFlags) {
    bool fWanted = (nFlags & (POWER_SYSTEM_REQUIRED | POWER_AWAYMODE_REQUIRED)) != 0;
    if (child_ > 0 && ChildEnded())
        fAvailable_ = false; // the lock was refused; do not spawn every 30 s
    if (fWanted && child_ <= 0 && fAvailable_)
        fAvailable_ = Acquire();
    else if (!fWanted)
        Release();
}

bool InhibitorPower::Acquire() {
    if (command_.empty())
        return false;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, readEnd.Get(), 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (std::string& arg : command_)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    int r = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (r != 0)
        return false;
    child_ = pid;
    pipe_ = std::move(writeEnd);
    return true;
}

void InhibitorPower::Release() {
    if (child_ <= 0)
        return;
    pipe_.Reset(); // end of input ends the command and the lock
    int status = 0;
    while (::waitpid(child_, &status, 0) < 0 && errno == EINTR) {
    }
    child_ = -1;
}

bool InhibitorPower::ChildEnded() {
    int status = 0;
    if (::waitpid(child_, &status, WNOHANG) != child_)
        return false;
    child_ = -1;
    pipe_.Reset();
    return true;
}

std::unique_ptr<Power> CreateSystemPower() {
    struct stat st {};
    if (::stat(SYSTEM_BUS_SOCKET, &st) == 0 && FindInPath("systemd-inhibit"))
        return std::make_unique<InhibitorPower>();
    return std::make_unique<NullPower>();
}

} // namespace brindle
