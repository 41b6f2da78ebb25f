#include "e2e/e2e_support.h"

#include "common/test_support.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace brindle::test {

namespace {

namespace fs = std::filesystem;

int ConnectLoopback(uint16_t nPort) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(nPort);
    int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::close(fd);
    return rc;
}

} // namespace

std::string HostProgram() {
    return BRINDLE_HOST_PROGRAM;
}
std::string ViewProgram() {
    return BRINDLE_VIEW_PROGRAM;
}

uint16_t FreeLoopbackPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

bool WaitAccepting(uint16_t nPort, int limitMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (ConnectLoopback(nPort) != 0) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args,
                         const std::string& outputFile, const std::string& input) {
    std::string inputFile = outputFile + ".in";
    WriteFileText(inputFile, input);
    std::vector<std::string> all = {program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ < 0)
        return false;
    if (pid_ == 0) {
        int in = ::open(inputFile.c_str(), O_RDONLY);
        int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(out, 2);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    return true;
}

int ChildProcess::Wait(int limitMs) {
    if (pid_ <= 0)
        return -1;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
        int status = 0;
        pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
        }
        if (std::chrono::steady_clock::now() > end)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

int ChildProcess::Stop(int limitMs) {
    if (pid_ <= 0)
        return -1;
    ::kill(pid_, SIGTERM);
    return Wait(limitMs);
}

std::map<std::string, std::string> ImageFiles(const std::string& root) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        if (it->is_regular_file() && it->path().extension() == ".jpg")
            files[fs::relative(it->path(), root).string()] = ReadFileText(it->path().string());
    }
    return files;
}

} // namespace brindle::test
