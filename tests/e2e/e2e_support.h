// Running the real programs in end-to-end tests: child processes with their
// output in files, a free loopback port, and the image files they store.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace brindle::test {

std::string HostProgram();
std::string ViewProgram();

// A free port on 127.0.0.1 (bound once and released).
uint16_t FreeLoopbackPort();

// Connects to 127.0.0.1:nPort until it accepts or the limit passes.
bool WaitAccepting(uint16_t nPort, int limitMs);

// One started program. Killed and reaped when the object goes, if it still
// runs.
class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Standard output and error go to `outputFile`; standard input reads
    // `input`.
    bool Start(const std::string& program, const std::vector<std::string>& args,
               const std::string& outputFile, const std::string& input = std::string());
    // The exit status, -1 when the limit passed, -2 when a signal ended it.
    int Wait(int limitMs);
    // SIGTERM, then the exit status (as Wait).
    int Stop(int limitMs = 15000);
    bool Running() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
};

// The image files under `root`, by path relative to it, with their bytes.
std::map<std::string, std::string> ImageFiles(const std::string& root);

} // namespace brindle::test
