#include "server/app/host_options.h"

#include "common/error_codes.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace brindle {

namespace {

bool AllDigits(std::string_view text) {
    if (text.empty() || text.size() > 3)
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

// "--name=value" or "--name value"; advances i past a separate value.
bool OptionValue(std::string_view arg, std::string_view name, int argc, const char* const* argv,
                 int& i, std::string& value, bool& fMissing) {
    fMissing = false;
    if (arg == name) {
        if (i + 1 >= argc) {
            fMissing = true;
            return true;
        }
        value = argv[++i];
        return true;
    }
    if (arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=') {
        value = std::string(arg.substr(name.size() + 1));
        return true;
    }
    return false;
}

uint32_t Fail(std::string& error, const std::string& text) {
    error = text;
    return ERROR_INVALID_PARAMETER_CODE;
}

} // namespace

uint32_t ParseHostOptions(int argc, const char* const* argv, HostOptions& options,
                          std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string value;
        bool fMissing = false;
        if (arg == "--headless") {
            options.fHeadless = true;
        } else if (arg == "--help" || arg == "-h") {
            options.fHelp = true;
        } else if (arg == "--version") {
            options.fVersion = true;
        } else if (arg == "--set-password") {
            options.fSetPassword = true;
        } else if (arg == "--test-camera") {
            options.nTestCameras = 1;
            if (i + 1 < argc && AllDigits(argv[i + 1]))
                options.nTestCameras = std::atoi(argv[++i]);
            if (options.nTestCameras < 1 || options.nTestCameras > TEST_CAMERAS_MAX)
                return Fail(error, "--test-camera takes a number from 1 to 16");
        } else if (OptionValue(arg, "--data-dir", argc, argv, i, value, fMissing)) {
            if (fMissing || value.empty())
                return Fail(error, "--data-dir needs a folder");
            options.cDataDir = value;
        } else if (OptionValue(arg, "--listen", argc, argv, i, value, fMissing)) {
            in_addr addr{};
            if (fMissing || ::inet_pton(AF_INET, value.c_str(), &addr) != 1)
                return Fail(error, "--listen needs an IPv4 address such as 127.0.0.1");
            options.cListen = value;
        } else if (OptionValue(arg, "--set-storage", argc, argv, i, value, fMissing) ||
                   OptionValue(arg, "--delete-storage", argc, argv, i, value, fMissing)) {
            if (fMissing || value.empty())
                return Fail(error, std::string(arg.substr(0, arg.find('='))) + " needs a URI");
            (arg.starts_with("--set") ? options.cSetStorage : options.cDeleteStorage) = value;
        } else if (arg == "--any-certificate") {
            options.fAnyCertificate = true;
        } else {
            return Fail(error, "unknown option: " + std::string(arg));
        }
    }
    return 0;
}

std::string HostUsage() {
    return "Usage: BrindleHost [--headless] [--data-dir DIR] [--test-camera [N]]\n"
           "                   [--listen ADDRESS]\n"
           "       BrindleHost --set-password [--data-dir DIR]\n"
           "       BrindleHost --set-storage URI [--any-certificate] [--data-dir DIR]\n"
           "       BrindleHost --delete-storage URI [--data-dir DIR]\n"
           "\n"
           "Captures images from the cameras in use, keeps them in the image folder and\n"
           "sends them to the logged-in BrindleView client.\n"
           "\n"
           "  --headless         run without a window until SIGINT or SIGTERM\n"
           "  --data-dir DIR     keep settings, log and lock in DIR\n"
           "                     (default: <documents>/BrindleHost)\n"
           "  --test-camera [N]  offer N built-in test-pattern cameras (default 1)\n"
           "  --listen ADDRESS   accept clients on this IPv4 address only\n"
           "                     (default: every local address)\n"
           "  --set-password     read a password from standard input and store it\n"
           "                     (an empty line removes the password)\n"
           "  --set-storage URI  add or change the online storage account of URI; reads\n"
           "                     the user name and the password from standard input\n"
           "  --any-certificate  with --set-storage: accept any server certificate\n"
           "  --delete-storage URI  delete the online storage account of URI\n"
           "  --version          print the version\n"
           "  -h, --help         print this text\n"
           "\n"
           "Settings live in DIR/BrindleHost.ini, the log in DIR/BrindleHost.log.\n"
           "Exit status: 0 a normal end, 1 an error, 2 another BrindleHost serves the\n"
           "data folder or a bad command line, 73 the data folder cannot be written.\n"
           "See BrindleHost(1).\n";
}

} // namespace brindle
