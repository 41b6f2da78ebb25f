// BrindleHost's command line.
#pragma once

#include <cstdint>
#include <string>

namespace brindle {

inline constexpr int TEST_CAMERAS_MAX = 16;

struct HostOptions {
    bool fHeadless = false;
    bool fHelp = false;
    bool fVersion = false;
    bool fSetPassword = false;
    std::string cDataDir;            // empty: <documents>/BrindleHost
    int nTestCameras = 0;            // --test-camera [N]
    std::string cListen = "0.0.0.0"; // --listen ADDRESS
    // Storage account commands.
    std::string cSetStorage;    // --set-storage URI
    std::string cDeleteStorage; // --delete-storage URI
    bool fAnyCertificate = false;
};

// Returns 0, or ERROR_INVALID_PARAMETER_CODE with a one-line `error` for an
// unknown option or a bad value.
uint32_t ParseHostOptions(int argc, const char* const* argv, HostOptions& options,
                          std::string& error);

// The text of --help.
std::string HostUsage();

} // namespace brindle
