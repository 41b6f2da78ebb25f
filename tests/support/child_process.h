// Running a real program from a test: output into files, input from a
// string, stopped by signal and always reaped.
#pragma once

#include "support/file_text.h"
#include "support/wait_until.h"

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace brindle::test {

// One started program. Killed and reaped when the object goes, if it still
// runs.
class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess() {
        CloseInput();
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Standard output goes to `outputFile`, standard error to `errorFile`
    // (empty: to `outputFile` as well); standard input reads `input`, kept
    // beside the output as `outputFile`.in. The program starts with no
    // signal blocked, whatever the test's threads block.
    bool Start(const std::string& program, const std::vector<std::string>& args,
               const std::string& outputFile, const std::string& input = std::string(),
               const std::string& errorFile = std::string()) {
        std::string inputFile = outputFile + ".in";
        WriteFileText(inputFile, input);
        return Spawn(program, args, outputFile, errorFile, [&](posix_spawn_file_actions_t& a) {
            posix_spawn_file_actions_addopen(&a, 0, inputFile.c_str(), O_RDONLY, 0);
        });
    }

    // As Start, but standard input is a pipe that Input writes to while the
    // program runs; CloseInput ends it.
    bool StartPiped(const std::string& program, const std::vector<std::string>& args,
                    const std::string& outputFile, const std::string& errorFile = std::string()) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return false;
        bool fStarted =
            Spawn(program, args, outputFile, errorFile, [&](posix_spawn_file_actions_t& a) {
                posix_spawn_file_actions_adddup2(&a, fds[0], 0);
            });
        ::close(fds[0]);
        input_ = fds[1];
        return fStarted;
    }
    bool Input(const std::string& text) {
        return input_ >= 0 && ::write(input_, text.data(), text.size()) == ssize_t(text.size());
    }
    void CloseInput() {
        if (input_ >= 0)
            ::close(input_);
        input_ = -1;
    }

  private:
    template <typename StdinAction>
    bool Spawn(const std::string& program, const std::vector<std::string>& args,
               const std::string& outputFile, const std::string& errorFile, StdinAction addStdin) {
        std::vector<std::string> all = {program};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        addStdin(actions);
        posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (errorFile.empty())
            posix_spawn_file_actions_adddup2(&actions, 1, 2);
        else
            posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
        int r = ::posix_spawn(&pid_, program.c_str(), &actions, &attr, argv.data(), environ);
        posix_spawnattr_destroy(&attr);
        posix_spawn_file_actions_destroy(&actions);
        if (r != 0)
            pid_ = -1;
        return r == 0;
    }

  public:
    // The exit status; -1 when the limit passed (or nothing runs), -2 when
    // a signal ended the program.
    int Wait(int limitMs) {
        if (pid_ <= 0)
            return -1;
        int status = 0;
        if (!WaitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, limitMs, 10))
            return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
    }

    // SIGTERM, then the exit status (as Wait).
    int Stop(int limitMs = 15000) {
        if (pid_ <= 0)
            return -1;
        ::kill(pid_, SIGTERM);
        return Wait(limitMs);
    }

    bool Running() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    int input_ = -1;
};

} // namespace brindle::test
