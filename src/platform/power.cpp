#include "platform/power.h"

#include "common/os_error.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <sys/wait.h>
#include <system_error>
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

// Spawns `command` with its standard input from `stdinFd` (-1: /dev/null)
// and its standard output into `stdoutFd` (-1: /dev/null). Returns the pid
// or -1.
pid_t SpawnCommand(std::vector<std::string>& command, int stdinFd, int stdoutFd) {
    if (command.empty())
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdinFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stdinFd, 0);
    else
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (stdoutFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (std::string& arg : command)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    // The caller may block SIGTERM and SIGINT to take them through a signal
    // thread; the helper must not inherit that mask, or stopping it with
    // SIGTERM would wait for ever.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    int r = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return r == 0 ? pid : -1;
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
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);
    pid_t pid = SpawnCommand(command_, readEnd.Get(), -1);
    if (pid <= 0)
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

int ParseSleepSignal(std::string_view line) {
    constexpr std::string_view kMember = "org.freedesktop.login1.Manager.PrepareForSleep (";
    size_t pos = line.find(kMember);
    if (pos == std::string_view::npos)
        return -1;
    std::string_view args = line.substr(pos + kMember.size());
    if (args.substr(0, 4) == "true")
        return 1;
    if (args.substr(0, 5) == "false")
        return 0;
    return -1;
}

SleepWatcher::SleepWatcher(std::vector<std::string> command) : command_(std::move(command)) {}

SleepWatcher::~SleepWatcher() {
    Stop();
}

std::vector<std::string> SleepWatcher::DefaultCommand() {
    return {"gdbus",
            "monitor",
            "--system",
            "--dest",
            "org.freedesktop.login1",
            "--object-path",
            "/org/freedesktop/login1"};
}

bool SleepWatcher::Start(PowerEvents* events) {
    Stop();
    if (events == nullptr)
        return true;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);
    child_ = SpawnCommand(command_, -1, writeEnd.Get());
    if (child_ <= 0)
        return false;
    writeEnd.Reset(); // the reader sees the end when the child goes
    try {
        reader_ = std::thread(&SleepWatcher::ReadLoop, this, readEnd.Release(), events);
    } catch (const std::system_error&) {
        Stop();
        return false;
    }
    return true;
}

void SleepWatcher::Stop() {
    if (child_ > 0) {
        ::kill(child_, SIGTERM);
        while (::waitpid(child_, nullptr, 0) < 0 && errno == EINTR) {
        }
        child_ = -1;
    }
    if (reader_.joinable())
        reader_.join();
}

void SleepWatcher::ReadLoop(int fd, PowerEvents* events) {
    UniqueFd input(fd);
    std::string pending;
    char chunk[4096];
    for (;;) {
        ssize_t n = ::read(input.Get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        pending.append(chunk, static_cast<size_t>(n));
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            int nSleep = ParseSleepSignal(std::string_view(pending).substr(0, end));
            if (nSleep == 1)
                events->PowerSuspending();
            else if (nSleep == 0)
                events->PowerResumed();
            pending.erase(0, end + 1);
        }
        if (pending.size() > 65536)
            pending.clear(); // a line that long is nothing we look for
    }
}

void InhibitorPower::Watch(PowerEvents* events) {
    watcher_.Start(events);
}

uint32_t WakeAlarm::Set(uint32_t nMinutes) {
    fd_.Reset();
    if (nMinutes == 0)
        return ERROR_INVALID_PARAMETER_CODE;
    UniqueFd fd(::timerfd_create(CLOCK_BOOTTIME_ALARM, TFD_CLOEXEC | TFD_NONBLOCK));
    if (!fd.Valid())
        return LastOsError();
    itimerspec when{};
    when.it_value.tv_sec = static_cast<time_t>(nMinutes) * 60;
    when.it_interval = when.it_value;
    if (::timerfd_settime(fd.Get(), 0, &when, nullptr) != 0)
        return LastOsError();
    fd_ = std::move(fd);
    return 0;
}

std::unique_ptr<Power> CreateSystemPower() {
    struct stat st {};
    if (::stat(SYSTEM_BUS_SOCKET, &st) == 0 && FindInPath("systemd-inhibit"))
        return std::make_unique<InhibitorPower>();
    return std::make_unique<AlarmPower>();
}

} // namespace brindle
