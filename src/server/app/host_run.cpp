#include "server/app/host_run.h"

#include "common/error_codes.h"
#include "common/error_text.h"
#include "common/log.h"
#include "common/os_error.h"
#include "platform/data_folder.h"
#include "platform/file_lock.h"
#include "platform/line_input.h"
#include "platform/service_notify.h"
#include "platform/stop_signals.h"
#include "server/app/server_host.h"
#include "server/app/server_runtime.h"
#include "server/capture/camera_control.h"
#include "server/capture/camera_list.h"
#include "storage/account_command.h"
#include "storage/relay_worker.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <poll.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

namespace brindle {

namespace {

// Without a window the failures that would be message boxes go to the log
// and to standard error; the rest has nobody to show it to.
class HeadlessServerHost final : public ServerHost {
  public:
    void CameraStartFailed(const CameraSettings& camera, uint32_t nCode,
                           const std::string& hint) override {
        ServerHost::CameraStartFailed(camera, nCode, hint);
        Print(StartFailureText(camera.cName, nCode, hint));
    }
    void CameraStopFailed(const CameraSettings& camera) override {
        ServerHost::CameraStopFailed(camera);
        Print(StopFailureText(camera.cName));
    }

  private:
    void Print(const std::string& text) {
        std::lock_guard<std::mutex> lock(lock_);
        std::fprintf(stderr, "BrindleHost: %s\n", text.c_str());
    }
    std::mutex lock_;
};

// A data folder that cannot be made or written is a setting to mend, not a
// passing fault: one line names the folder and the reason, and the exit
// status tells a service manager not to start us again and again.
int DataFolderFailure(const std::string& folder, uint32_t nCode) {
    std::fprintf(stderr, "BrindleHost: cannot write the data folder %s (0x%08X %s)\n",
                 folder.c_str(), nCode, ErrorText(nCode).c_str());
    return HOST_EXIT_DATA_FOLDER;
}

uint32_t OpenFolder(const HostOptions& options, std::string& folder) {
    uint32_t err = OpenDataFolder(SERVER_PROGRAM_FOLDER, options.cDataDir, folder);
    if (err != 0)
        DataFolderFailure(options.cDataDir.empty() ? "<documents>/BrindleHost" : options.cDataDir,
                          err);
    return err;
}

// A command line from standard input. Only "property close" is known: it
// closes the remote property dialog as closing it in the window would.
void RunHostCommand(ServerRuntime& runtime, const std::string& line) {
    std::vector<std::string> words;
    if (!SplitCommandWords(line, words)) {
        std::fprintf(stderr, "BrindleHost: unclosed quote in the command: %s\n", line.c_str());
        return;
    }
    if (words.empty())
        return;
    if (words.size() != 2 || words[0] != "property" || words[1] != "close") {
        std::fprintf(stderr, "BrindleHost: unknown command (try \"property close\"): %s\n",
                     line.c_str());
        return;
    }
    if (!runtime.Property().IsOpen()) {
        std::printf("property: no dialog is open\n");
    } else {
        runtime.Property().CloseFromView();
        std::printf("property closed\n");
    }
    std::fflush(stdout);
}

// Ticks every 50 ms until a stop signal arrives, reading commands from
// standard input meanwhile. A service manager hears that we are ready once
// clients can connect: the listener may open only at a later tick (a port
// still taken is tried again every few seconds).
void TickUntilSignal(ServerRuntime& runtime, int nSignalFd) {
    using Steady = std::chrono::steady_clock;
    LineInput input(STDIN_FILENO);
    auto next = Steady::now();
    bool fReady = false;
    for (;;) {
        runtime.Tick();
        if (!fReady && runtime.ListenerPort() != 0) {
            fReady = true;
            NotifyServiceReady("listening on port " + std::to_string(runtime.ListenerPort()));
        }
        next += std::chrono::milliseconds(RUNTIME_TICK_MS);
        for (;;) {
            auto now = Steady::now();
            if (next < now)
                next = now; // a long tick does not make the next ones crowd in
            auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - now);
            pollfd fds[2] = {{nSignalFd, POLLIN, 0}, {input.Fd(), POLLIN, 0}};
            if (::poll(fds, input.Fd() >= 0 ? 2 : 1, static_cast<int>(wait.count())) <= 0)
                break;
            if (fds[0].revents != 0) {
                signalfd_siginfo info{};
                ssize_t r = ::read(nSignalFd, &info, sizeof info);
                (void)r;
                NotifyServiceStopping();
                return;
            }
            std::vector<std::string> lines;
            input.Read(lines);
            for (const std::string& line : lines)
                RunHostCommand(runtime, line);
        }
    }
}

std::string ReadPasswordLine() {
    bool fTerminal = ::isatty(STDIN_FILENO) != 0;
    termios saved{};
    if (fTerminal && ::tcgetattr(STDIN_FILENO, &saved) == 0) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        std::fprintf(stderr, "Password: ");
    }
    std::string line;
    std::getline(std::cin, line);
    if (fTerminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fprintf(stderr, "\n");
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    return line;
}

} // namespace

namespace {

// For the benchmarks: when BRINDLE_TICK_STATS names a file, the durations of
// the ticks go there at the end, "ticks=N p50_us=... p99_us=... max_us=...
// cpu_p99_us=... workers=W" (wall time, then the thread's own CPU time).
void WriteTickStats(const ServerRuntime& runtime) {
    const char* pcFile = std::getenv("BRINDLE_TICK_STATS");
    if (pcFile == nullptr || *pcFile == '\0')
        return;
    FILE* file = std::fopen(pcFile, "w");
    if (file == nullptr)
        return;
    const TickDurations& times = runtime.TickTimes();
    std::fprintf(file,
                 "ticks=%llu p50_us=%llu p99_us=%llu max_us=%llu cpu_p99_us=%llu workers=%d\n",
                 static_cast<unsigned long long>(times.Count()),
                 static_cast<unsigned long long>(times.Quantile(0.5)),
                 static_cast<unsigned long long>(times.Quantile(0.99)),
                 static_cast<unsigned long long>(times.Longest()),
                 static_cast<unsigned long long>(runtime.TickCpuTimes().Quantile(0.99)),
                 runtime.CycleWorkerCount());
    std::fclose(file);
}

} // namespace

int PrepareDataFolder(const HostOptions& options, std::string& folder) {
    if (OpenFolder(options, folder) != 0)
        return HOST_EXIT_DATA_FOLDER;
    // An existing lock file opens even in a folder we may not write; the
    // settings, the log and the images could then not be saved.
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return DataFolderFailure(folder, LastOsError());
    return HOST_EXIT_OK;
}

int OpenAndLockDataFolder(const HostOptions& options, std::string& folder, FileLock& instance) {
    if (int nExit = PrepareDataFolder(options, folder); nExit != HOST_EXIT_OK)
        return nExit;
    uint32_t err = LockSingleInstance(folder, SERVER_PROGRAM_FOLDER, instance);
    if (err == ERROR_SHARING_VIOLATION_CODE)
        return HOST_EXIT_RUNNING;
    if (err != 0)
        return DataFolderFailure(folder, err);
    return HOST_EXIT_OK;
}

RuntimeOptions MakeRuntimeOptions(const HostOptions& options, const std::string& folder,
                                  Power* power) {
    RuntimeOptions runtimeOptions;
    runtimeOptions.cDataFolder = folder;
    runtimeOptions.cBindAddress = options.cListen;
    runtimeOptions.nTestCameras = options.nTestCameras;
    runtimeOptions.pPower = power;
    return runtimeOptions;
}

int RunHeadless(const HostOptions& options) {
    std::string folder;
    FileLock instance;
    if (int nExit = OpenAndLockDataFolder(options, folder, instance); nExit != HOST_EXIT_OK) {
        if (nExit == HOST_EXIT_RUNNING)
            std::fprintf(stderr, "BrindleHost: another BrindleHost serves %s\n", folder.c_str());
        return nExit;
    }
    sigset_t set = StopSignals();
    int nSignalFd = ::signalfd(-1, &set, SFD_CLOEXEC);
    if (nSignalFd < 0) {
        std::perror("BrindleHost: signalfd");
        return HOST_EXIT_ERROR;
    }
    LogOpen(folder + "/" + SERVER_LOG_FILE_NAME);
    std::unique_ptr<Power> power = CreateSystemPower();
    HeadlessServerHost host;
    RuntimeOptions runtimeOptions = MakeRuntimeOptions(options, folder, power.get());
    runtimeOptions.pHost = &host;
    int nExit = HOST_EXIT_OK;
    {
        ServerRuntime runtime(runtimeOptions);
        uint32_t nStart = runtime.Start();
        if (nStart == 0) {
            power->Watch(&runtime);
            TickUntilSignal(runtime, nSignalFd);
            power->Watch(nullptr);
            WriteTickStats(runtime);
        } else {
            std::fprintf(stderr, "BrindleHost: %s\n",
                         nStart == ERR_RELAY_NAME
                             ? "the computer name cannot name relay files "
                               "(1 to 63 letters, digits, \"_\" or \"-\"; set COMPUTERNAME)"
                             : CAMERA_LIST_NO_MEMORY_TEXT);
            nExit = HOST_EXIT_ERROR;
        }
        runtime.Shutdown();
    }
    ::close(nSignalFd);
    LogClose();
    return nExit;
}

int SetPasswordFromInput(const HostOptions& options) {
    std::string folder;
    if (OpenFolder(options, folder) != 0)
        return HOST_EXIT_DATA_FOLDER;
    std::string password = ReadPasswordLine();
    std::string file = folder + "/" + SERVER_SETTINGS_FILE_NAME;
    uint32_t err = WritePassword(file, password, SystemTimeToFileTime(LocalTimeNow()));
    if (err != 0) {
        std::fprintf(stderr, "BrindleHost: cannot write %s (error 0x%08X)\n", file.c_str(), err);
        return HOST_EXIT_ERROR;
    }
    std::printf(password.empty() ? "Password removed from %s\n" : "Password stored in %s\n",
                file.c_str());
    FileLock instance;
    if (LockSingleInstance(folder, SERVER_PROGRAM_FOLDER, instance) != 0)
        std::printf("The BrindleHost that is running uses it from its next start.\n");
    return HOST_EXIT_OK;
}

// Storage account commands.

namespace {

AccountCommand StorageCommand(const HostOptions& options, const std::string& folder,
                              const std::string& uri) {
    AccountCommand command;
    command.cProgram = "BrindleHost";
    command.cSettingsFile = folder + "/" + SERVER_SETTINGS_FILE_NAME;
    command.cUri = uri;
    command.fAnyCert = options.fAnyCertificate;
    command.fServer = true;
    return command;
}

} // namespace

int SetStorageFromInput(const HostOptions& options) {
    std::string folder;
    if (OpenFolder(options, folder) != 0)
        return HOST_EXIT_DATA_FOLDER;
    int nExit = SetStorageAccount(StorageCommand(options, folder, options.cSetStorage), std::cin,
                                  stdout, stderr);
    FileLock instance;
    if (nExit == HOST_EXIT_OK && LockSingleInstance(folder, SERVER_PROGRAM_FOLDER, instance) != 0)
        std::printf("The BrindleHost that is running uses it from its next start.\n");
    return nExit;
}

int DeleteStorage(const HostOptions& options) {
    std::string folder;
    if (OpenFolder(options, folder) != 0)
        return HOST_EXIT_DATA_FOLDER;
    // A running server may relay through the account.
    FileLock instance;
    if (LockSingleInstance(folder, SERVER_PROGRAM_FOLDER, instance) != 0) {
        std::fprintf(stderr, "BrindleHost: a running BrindleHost serves %s; stop it first\n",
                     folder.c_str());
        return HOST_EXIT_ERROR;
    }
    return DeleteStorageAccount(StorageCommand(options, folder, options.cDeleteStorage), stdout,
                                stderr);
}

} // namespace brindle
