// BrindleView's program run without windows: options, data folder, log and
// settings, the servers to connect, and a clean stop on SIGINT or SIGTERM.
#pragma once

#include <string>
#include <vector>

namespace brindle {

struct ClientOptions {
    bool fHeadless = false;
    bool fHelp = false;
    bool fVersion = false;
    std::string cDataDir;
    std::vector<std::string> connect; // "host:port" texts
    std::string cPasswordFile;
};

// Reads the command line. Returns false with `error` set for an unknown
// option or a missing value.
bool ParseClientOptions(int argc, const char* const* argv, ClientOptions& options,
                        std::string& error);

std::string ClientUsage();
std::string ClientVersion(); // "Brindle View Ver 1.02"

// Runs until SIGINT or SIGTERM; returns the exit code.
int RunHeadlessClient(const ClientOptions& options);

} // namespace brindle
