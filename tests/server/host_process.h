// Runs the real BrindleHost for end-to-end tests: started with a data
// folder in a temporary folder, stopped by signal, reaped.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace brindle::test {

// The program as the build left it.
std::string HostProgram();

// A free port on 127.0.0.1 (bound once and released).
uint16_t FreeLoopbackPort();

class HostProcess {
  public:
    HostProcess() = default;
    ~HostProcess(); // kills and reaps a process that still runs
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    // Starts the program with `args`; standard output and error go to the
    // given files, standard input reads `input` (empty: nothing).
    bool Start(const std::vector<std::string>& args, const std::string& stdoutFile,
               const std::string& stderrFile, const std::string& input = std::string());
    // Waits up to nTimeoutMs for the exit; the exit status, or -1 on time-out
    // (-2 when it ended by a signal).
    int Wait(int nTimeoutMs);
    void Signal(int nSignal);
    pid_t Pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
};

// Connects to 127.0.0.1:nPort until it accepts or nTimeoutMs pass.
bool WaitAccepting(uint16_t nPort, int nTimeoutMs);

} // namespace brindle::test
